// Memory capture: frames that reach the host are kept as pcapng packet
// blocks in a bounded cache until the reader takes them. The header request
// returns the section header and the two interface blocks; each data request
// returns the packet blocks captured since the previous one, whole blocks
// only, as many as fit the reader's buffer. Header then data, in order,
// form one valid pcapng stream. A full cache drops frames and counts them.
//
// The cache is a SharedByteRing: a client may map it and take blocks itself
// (share()), and the data request takes them from the same tail, so a block
// goes to one reader only, whichever path it uses.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <span>
#include <vector>

#include "batch_mutex.h"
#include "byte_ring.h"
#include "frame.h"

namespace nettlebeam::traffic {

class MemoryCapture {
  public:
    static constexpr uint64_t kCacheSize = 64ull << 20;
    static constexpr uint32_t kDefaultSnapLength = 65535;

    // Only mode 0 (pcapng blocks) exists; false for any other.
    bool setMode(uint32_t mode);
    // False when the cache cannot be allocated. Starting again restarts.
    bool start(uint32_t snapLength, uint64_t cacheSize = kCacheSize);
    void stop();
    bool running() const { return running_.load(std::memory_order_relaxed); }

    // The stream's header; empty when `capacity` is too small for it.
    std::vector<uint8_t> header(uint32_t capacity) const;
    // Copies whole packet blocks, up to `capacity` bytes, into `out` and
    // releases them; returns the number of bytes.
    size_t read(uint8_t* out, size_t capacity);
    // Bytes waiting to be read (0 when nothing runs).
    uint64_t cached();

    // What a client needs to map the running capture's ring: its own copies
    // of the two descriptors, the capacity and the generation. Empty when
    // nothing runs, or sharing was given up for this capture.
    struct Share {
        int dataFd = -1;  // the caller closes both
        int controlFd = -1;
        uint64_t capacity = 0;
        uint64_t generation = 0;
    };
    std::optional<Share> share();
    // True once a client broke the ring's rules in this capture.
    bool sharingWithdrawn() const { return withdrawn_.load(std::memory_order_relaxed); }
    uint64_t framesDropped() const { return dropped_.load(std::memory_order_relaxed); }

    // Engine side, under the lock of a batch.
    BatchMutex::Batch lockForFrames() { return BatchMutex::Batch(mutex_); }
    bool accepting() const { return ring_ != nullptr; }
    bool offer(Port port, uint64_t timestampNs, std::span<const uint8_t> data,
               std::span<const uint8_t> extra, uint32_t originalLength);

  private:
    // A client moved the shared tail where it cannot be: stop sharing.
    void withdrawSharing();
    void detachLocked();  // under mutex_ and readMutex_

    BatchMutex mutex_;  // ring_ against the engine's batches
    std::unique_ptr<SharedByteRing> ring_;
    std::mutex readMutex_;  // one reader at a time
    std::atomic<bool> running_{false};
    std::atomic<uint64_t> dropped_{0};
    std::atomic<bool> withdrawn_{false};
    uint32_t mode_ = 0;
    uint32_t snapLength_ = kDefaultSnapLength;
};

}  // namespace nettlebeam::traffic
