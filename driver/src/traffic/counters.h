// The device's hardware counters: the fixed per-port counters of the
// first statistics format and the sixteen programmable counters of the second.
//
// One thread (the device's traffic engine) counts; any thread may read. The
// counting thread is the only writer of each value, so plain relaxed
// load+store keeps the per-frame cost at a few instructions without locks.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "classify.h"
#include "frame.h"

namespace nettlebeam::traffic {

inline void bump(std::atomic<uint64_t>& value, uint64_t by = 1) {
    value.store(value.load(std::memory_order_relaxed) + by, std::memory_order_relaxed);
}

// What happened to a frame on its way to the host.
enum class Delivery : uint8_t {
    Delivered,        // handed to the host (or no capture ran)
    Filtered,         // discarded by a hardware filter or a disabled port
    DroppedByDevice,  // discarded by the device (CRC error and "keep CRC errors" off)
    DroppedByHost,    // the host's capture cache was full
};

struct PortCounters {
    std::atomic<uint64_t> bytes{0};
    std::atomic<uint64_t> lessThan64{0};
    std::atomic<uint64_t> from64To1518{0};
    std::atomic<uint64_t> moreThan1518{0};
    std::atomic<uint64_t> crcErrors{0};
    std::atomic<uint64_t> jabbers{0};
    std::atomic<uint64_t> collisions{0};
    std::atomic<uint64_t> hwDropped{0};

    // Inline: it runs for every frame.
    void count(const Frame& frame, Delivery delivery) {
        bump(bytes, frame.wireLength);
        if (frame.flags & kCollision) {
            bump(collisions);
        } else if (frame.flags & kJabber) {
            bump(jabbers);
        } else if (frame.flags & kCrcError) {
            bump(crcErrors);
        } else if (frame.wireLength < 64) {
            bump(lessThan64);
        } else if (frame.wireLength <= 1518) {
            bump(from64To1518);
        } else {
            bump(moreThan1518);
        }
        if (delivery == Delivery::DroppedByDevice) bump(hwDropped);
    }
    void clear();
};

// One programmable counter, decoded from its 30-byte device block.
class ProgrammableCounter {
  public:
    static constexpr size_t kBlockSize = 30;

    // Decodes a block; nullopt when its index is above 15.
    static std::optional<ProgrammableCounter> fromBlock(std::span<const uint8_t> block);
    // An unprogrammed counter: counts nothing.
    ProgrammableCounter() = default;

    // `conditions` is conditionBits() of the frame.
    bool matches(const Frame& frame, const FrameInfo& info, uint16_t conditions) const;
    uint64_t amount(const Frame& frame) const { return countBytes_ ? frame.wireLength : 1; }
    const std::array<uint8_t, kBlockSize>& block() const { return block_; }
    uint8_t index() const { return block_[0]; }
    bool countsAnything() const { return portA_ || portB_; }

  private:
    bool ipMatches(const FrameInfo& info) const;

    std::array<uint8_t, kBlockSize> block_{};
    bool countBytes_ = false;
    bool portA_ = false;
    bool portB_ = false;
    uint16_t size_ = 0;
    uint8_t sizeCode_ = 0;               // 0 untested, 1 less than, 2 greater than, 3 equal
    uint16_t tested_ = 0;                // condition bits, see conditionBits()
    uint16_t required_ = 0;              // their required values
    std::array<uint8_t, 16> pattern_{};  // last byte first
    std::array<bool, 16> care_{};
    bool anyCare_ = false;
};

// The condition word of one frame, in the order the counters test it.
uint16_t conditionBits(const Frame& frame, const FrameInfo& info, Delivery delivery);

// The sixteen counters and their values.
class CounterBank {
  public:
    static constexpr size_t kCount = 16;

    // Replaces a counter's definition from its block and restarts its value
    // at zero. False when the block is not a valid counter definition.
    bool program(std::span<const uint8_t> block);
    std::array<uint8_t, ProgrammableCounter::kBlockSize> definition(size_t index) const;

    void count(const Frame& frame, const FrameInfo& info, Delivery delivery);
    // True when some counter is programmed to count (checked by the counting thread).
    bool anyActive() {
        refresh();
        return activeCount_ != 0;
    }
    // The 128-byte reply: sixteen little-endian 64-bit values, counter 1 first.
    std::vector<uint8_t> reply() const;
    uint64_t value(size_t index) const { return values_[index].load(std::memory_order_relaxed); }

  private:
    void refresh();
    // Definitions are replaced by the request thread while the engine counts:
    // an engine-side copy is refreshed when the generation changes.
    mutable std::atomic<uint64_t> generation_{0};
    std::array<ProgrammableCounter, kCount> shared_{};
    mutable std::atomic_flag lock_ = ATOMIC_FLAG_INIT;
    std::array<ProgrammableCounter, kCount> active_{};
    uint64_t activeGeneration_ = 0;
    std::array<uint8_t, kCount> activeIndexes_{};  // counters with a port, in order
    size_t activeCount_ = 0;
    std::array<std::atomic<uint64_t>, kCount> values_{};
    std::array<std::atomic<bool>, kCount> resetPending_{};
};

}  // namespace nettlebeam::traffic
