// The memory capture ring that nettlebeamd shares with its clients.
//
// The driver keeps a running memory capture's packet blocks in a ring of
// shared pages and hands two descriptors to a client that asks (request
// kShareMemoryCapture): the data pages, which only the driver can write, and
// a control page. A client maps the data twice back to back, so a run of
// blocks across the end of the ring reads as one, and takes blocks without
// asking the driver: it reads the head, walks whole blocks from the tail and
// moves the tail past them with a compare-and-swap. Every reader, the
// driver's own data request included, moves the same tail that way, so a
// block goes to exactly one reader. driver/PROTOCOL.md has the rules.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>

#include "client.h"

namespace nettlebeam::wire::ring {

// The request: input the device handle (4 bytes), reply kShareReplySize
// bytes and the descriptors of the data pages and the control page.
constexpr uint32_t kShareMemoryCapture = 0x4E420007;
constexpr size_t kShareReplySize = 24;
constexpr size_t kSharedDescriptors = 2;

constexpr uint32_t kControlMagic = 0x5243424E;  // "NBCR" in memory order
constexpr uint32_t kLayoutVersion = 1;
constexpr size_t kControlPageSize = 4096;
// Control page fields, little-endian, naturally aligned. Head and tail are
// byte positions that only grow; a position's place in the data pages is
// the position modulo the capacity.
constexpr size_t kMagicAt = 0;        // u32
constexpr size_t kVersionAt = 4;      // u32
constexpr size_t kCapacityAt = 8;     // u64, bytes of data pages
constexpr size_t kGenerationAt = 16;  // u64, a new value for every capture started
constexpr size_t kStateAt = 24;       // u32: kOpen, or kClosed once the driver stops sharing
constexpr size_t kHeadAt = 64;        // u64, written by the driver only
constexpr size_t kTailAt = 128;       // u64, moved by readers with compare-and-swap
constexpr uint32_t kOpen = 1;
constexpr uint32_t kClosed = 0;

// Smallest enhanced packet block: 28 bytes of header and fields, 4 of trailer.
constexpr uint32_t kMinBlockLength = 32;
// Larger rings are refused by clients rather than mapped.
constexpr uint64_t kMaxCapacity = 1ull << 30;

struct ShareReply {
    uint32_t version = kLayoutVersion;
    uint32_t controlSize = kControlPageSize;
    uint64_t capacity = 0;
    uint64_t generation = 0;
};
void encodeShareReply(const ShareReply& reply, uint8_t out[kShareReplySize]);
std::optional<ShareReply> decodeShareReply(std::span<const uint8_t> bytes);

inline std::atomic_ref<uint64_t> word64(uint8_t* page, size_t at) {
    return std::atomic_ref<uint64_t>(*reinterpret_cast<uint64_t*>(page + at));
}
inline std::atomic_ref<uint32_t> word32(uint8_t* page, size_t at) {
    return std::atomic_ref<uint32_t>(*reinterpret_cast<uint32_t*>(page + at));
}

struct Walk {
    uint64_t bytes = 0;  // whole blocks from the tail that fit the limit
    bool sound = true;   // false: a block length is impossible, or head and tail disagree
};

// Walks whole blocks from `start`, where `waiting` bytes of committed blocks
// begin, taking them while they fit `limit` bytes. Reads only the first
// min(waiting, limit) bytes, so it may walk a copy of that many. A block
// length that is not a multiple of 4, below kMinBlockLength or beyond the
// waiting bytes makes it unsound.
Walk walkRun(const uint8_t* start, uint64_t waiting, uint64_t limit);

// walkRun over [tail, head) of a ring of `capacity` bytes whose data is
// mapped twice back to back at `data`; also unsound when the head is behind
// the tail or more than `capacity` ahead of it.
Walk walkBlocks(const uint8_t* data, uint64_t capacity, uint64_t tail, uint64_t head,
                uint64_t limit);

// A client's mapping of one shared memory capture.
class SharedCaptureRing {
  public:
    // Asks the driver on `controlPath` for the ring of `handle` and maps it;
    // null when the driver refuses or is not there, or when what it handed
    // over is not a ring of this layout.
    static std::unique_ptr<SharedCaptureRing> open(const std::string& controlPath, int32_t handle);
    ~SharedCaptureRing();
    SharedCaptureRing(const SharedCaptureRing&) = delete;
    SharedCaptureRing& operator=(const SharedCaptureRing&) = delete;

    enum class Outcome {
        Read,     // `bytes` of whole blocks copied (0 when none are waiting)
        Closed,   // the driver no longer serves this ring: ask it again
        Corrupt,  // the ring holds an impossible block or position
    };
    // Copies whole blocks, up to `capacity` bytes, into `out` and takes them.
    Outcome read(uint8_t* out, size_t capacity, size_t& bytes);

    uint64_t capacity() const { return capacity_; }
    uint64_t generation() const { return generation_; }
    // The control page, writable as every reader's is (tests corrupt it).
    uint8_t* controlPage() const { return control_; }

  private:
    SharedCaptureRing() = default;
    bool stillServed() const;

    uint8_t* data_ = nullptr;  // capacity_ bytes mapped twice
    uint8_t* control_ = nullptr;
    uint64_t capacity_ = 0;
    uint64_t generation_ = 0;
    UniqueFd connection_;
};

}  // namespace nettlebeam::wire::ring
