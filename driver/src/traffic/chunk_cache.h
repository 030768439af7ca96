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
//
// The producer encodes each block in a small private staging area and moves
// it into the chunk a whole cache line at a time with streaming stores,
// which write to memory without first fetching the line. A plain store to a
// reused chunk must first take the line back from the consumer's core, which
// read it last: once per 64 bytes that cost the producer more than all its
// other work per frame. Only the last, partial line of a publish is stored
// plainly, so a line the consumer may already read is never rewritten.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <deque>
#include <memory>
#include <mutex>
#include <new>
#include <span>
#include <vector>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

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
        if (filled_ - stagingBase_ + length > kStagingWindow) compactStaging();
        return staging_.get() + (filled_ - stagingBase_);
    }
    void commit(size_t length) {
        filled_ += length;
        head_.store(head_.load(std::memory_order_relaxed) + length, std::memory_order_release);
        streamWholeLines();
    }
    void publish();

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
    static constexpr size_t kLine = 64;
    // ThreadSanitizer does not see streaming stores: under it the chunks are
    // written with plain stores, so that it checks the real protocol.
#if defined(__SANITIZE_THREAD__)
    static constexpr bool kStreamingStores = false;
#elif defined(__has_feature)
#if __has_feature(thread_sanitizer)
    static constexpr bool kStreamingStores = false;
#else
    static constexpr bool kStreamingStores = true;
#endif
#else
    static constexpr bool kStreamingStores = true;
#endif
    // The staging area is reused from its start once this much of it is
    // used, so that it stays in the processor's fastest cache.
    static constexpr size_t kStagingWindow = 8u << 10;
    bool nextChunk();
    // Lines are moved only once this many bytes follow them: reading back
    // what was just written in smaller pieces would stall on forwarding
    // from stores still in flight.
    static constexpr size_t kStreamLag = 4 * kLine;
    // Moves the complete lines committed since the last call into the chunk.
    void streamWholeLines() {
        if (filled_ < kStreamLag) return;
        const size_t lineEnd = (filled_ - kStreamLag) & ~(kLine - 1);
        if (lineEnd <= stored_) return;
        size_t from = stored_;
        if (from % kLine != 0) {  // the rest of a line a publish stored in part
            const size_t to = (from + kLine - 1) & ~(kLine - 1);
            std::memcpy(current_->data + from, staging_.get() + (from - stagingBase_), to - from);
            from = to;
        }
        for (; from < lineEnd; from += kLine)
            streamLine(current_->data + from, staging_.get() + (from - stagingBase_));
        stored_ = lineEnd;
    }
    static void streamLine(uint8_t* to, const uint8_t* from) {
#if defined(__SSE2__)
        if constexpr (kStreamingStores) {
            const auto* source = reinterpret_cast<const __m128i*>(from);
            auto* target = reinterpret_cast<__m128i*>(to);
            for (int i = 0; i < 4; ++i) _mm_stream_si128(target + i, _mm_load_si128(source + i));
            return;
        }
#endif
        std::memcpy(to, from, kLine);
    }
    // Stores what is committed and not yet in the chunk, and orders the
    // streaming stores before what follows.
    void storeRest();
    // Starts the staging area over at the first line not yet stored.
    void compactStaging();

    const uint64_t budget_;
    const size_t chunkSize_;
    const size_t chunkLimit_;
    mutable std::mutex mutex_;  // the three lists below
    std::vector<std::unique_ptr<Chunk>> chunks_;
    std::deque<Chunk*> queue_;  // oldest first; the producer's current chunk last
    std::vector<Chunk*> free_;  // last freed last
    // Producer's: its chunk, the bytes committed to it and the bytes of
    // them already stored in it; the staging area holds the chunk's bytes
    // from stagingBase_ (a line boundary) on.
    Chunk* current_ = nullptr;
    size_t filled_ = 0;
    size_t stored_ = 0;
    size_t stagingBase_ = 0;
    struct AlignedFree {
        void operator()(uint8_t* p) const { ::operator delete[](p, std::align_val_t(kLine)); }
    };
    std::unique_ptr<uint8_t[], AlignedFree> staging_;
    alignas(64) std::atomic<uint64_t> head_{0};
    alignas(64) std::atomic<uint64_t> tail_{0};
};

}  // namespace nettlebeam::traffic
