// The sixteen programmable counters: their 30-byte definitions as the device
// holds them, and the values they accumulate from the frames they match.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <span>

#include "../sim/port_counters.h"

namespace nettlebeam::driver::sim {

class CounterStore {
  public:
    static constexpr size_t kCount = 16;
    static constexpr size_t kBlockSize = 30;
    using Block = std::array<uint8_t, kBlockSize>;

    CounterStore() { powerOn(); }

    // The power-on definitions (codec/power_on_counters.h), shared with the
    // tools that put a counter back to them.
    void powerOn();
    // Stores a well-formed definition under the index in its byte 0 and
    // restarts that counter; false (nothing changed) otherwise.
    bool write(std::span<const uint8_t> block);
    std::optional<Block> read(uint32_t index) const;

    void count(const FrameInfo& frame);
    uint64_t value(size_t index) const { return values_[index]; }

    static bool matches(const Block& definition, const FrameInfo& frame);

  private:
    std::array<Block, kCount> definitions_{};
    std::array<uint64_t, kCount> values_{};
};

}  // namespace nettlebeam::driver::sim
