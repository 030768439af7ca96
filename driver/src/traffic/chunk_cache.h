// The direct capture's cache: ready-made file bytes between the engine (one
// producer) and the file writer (one consumer), in chunks of a few hundred
// KiB that go back to the producer as soon as they are written.
//
// Chunks are reused last-freed first, so while the writer keeps up the
// same two or three chunks carry all the traffic and stay in the
// processor's cache; a ring walking through the whole cache made every
// write of the engine and every read of the writer miss it, which cost
// more than all the per-frame work together. Chunks are allocated when a
// burst first needs them, never more than the budget calls for.
//
// The budget counts bytes: a block that would take the bytes cached (not
// yet written) beyond it is refused, whatever chunks are free.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <span>
#include <vector>

namespace nettlebeam::traffic {

class ChunkCache {
  public:
    // `largestBlock` is the longest block the producer will store: every
    // chunk has room for one.
    ChunkCache(uint64_t budget, size_t largestBlock);
    ~ChunkCache();
    ChunkCache(const ChunkCache&) = delete;
    ChunkCache& operator=(const ChunkCache&) = delete;

    uint64_t budget() const { return budget_; }
    size_t chunkSize() const { return chunkSize_; }
    // Bytes stored and not yet released (any thread).
    uint64_t used() const {
        // A head read while the tail stood still: a pair the two sides
        // really had (never negative, never beyond the budget).
        uint64_t tail = tail_.load(std::memory_order_acquire);
        while (true) {
            const uint64_t head = head_.load(std::memory_order_acquire);
            const uint64_t again = tail_.load(std::memory_order_acquire);
            if (again == tail) return head - tail;
            tail = again;
        }
    }
    // Chunks allocated so far.
    size_t chunksAllocated() const;

    // Producer. Room for a block of `length` bytes, or null when the budget
    // or the chunks are used up. A block goes in whole: commit() after
    // writing it; the consumer sees it after the next publish().
    uint8_t* reserve(size_t length) {
        if (head_.load(std::memory_order_relaxed) + length - tail_.load(std::memory_order_acquire) >
            budget_)
            return nullptr;
        if (current_ == nullptr || current_->capacity - filled_ < length) {
            if (length > chunkSize_ || !nextChunk()) return nullptr;
        }
        return current_->data + filled_;
    }
    void commit(size_t length) {
        filled_ += length;
        head_.store(head_.load(std::memory_order_relaxed) + length, std::memory_order_release);
    }
    void publish() {
        if (current_ != nullptr) current_->published.store(filled_, std::memory_order_release);
    }

    // Consumer. The oldest published bytes not yet released, all from one
    // chunk (so possibly fewer than are published); empty when none.
    std::span<const uint8_t> readable();
    // Releases the first `length` bytes of what readable() returned.
    void release(size_t length);

  private:
    struct Chunk {
        // Shared memory, like the ring buffers, so that capture caches stay
        // out of the daemon's anonymous memory (which the soak watches for
        // leaks). Throws std::bad_alloc when it cannot be mapped.
        explicit Chunk(size_t size);
        ~Chunk();
        Chunk(const Chunk&) = delete;
        Chunk& operator=(const Chunk&) = delete;
        uint8_t* data;
        size_t capacity;
        std::atomic<size_t> published{0};
        std::atomic<bool> sealed{false};  // the producer has moved on
        size_t consumed = 0;              // consumer's
    };
    bool nextChunk();

    const uint64_t budget_;
    const size_t chunkSize_;
    const size_t chunkLimit_;
    mutable std::mutex mutex_;  // the three lists below
    std::vector<std::unique_ptr<Chunk>> chunks_;
    std::deque<Chunk*> queue_;  // oldest first; the producer's current chunk last
    std::vector<Chunk*> free_;  // last freed last
    Chunk* current_ = nullptr;  // producer's
    size_t filled_ = 0;         // producer's: bytes committed to current_
    alignas(64) std::atomic<uint64_t> head_{0};
    alignas(64) std::atomic<uint64_t> tail_{0};
};

}  // namespace nettlebeam::traffic
