#include "chunk_cache.h"

#include <sys/mman.h>

#include <algorithm>
#include <new>

namespace nettlebeam::traffic {
namespace {

constexpr size_t kPreferredChunk = 256u << 10;
constexpr size_t kPage = 4096;

size_t roundUpToPage(size_t n) {
    return (n + kPage - 1) / kPage * kPage;
}

}  // namespace

ChunkCache::Chunk::Chunk(size_t size) : capacity(size) {
    void* memory = mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_SHARED | MAP_ANONYMOUS, -1, 0);
    if (memory == MAP_FAILED) throw std::bad_alloc();
    data = static_cast<uint8_t*>(memory);
}

ChunkCache::Chunk::~Chunk() {
    munmap(data, capacity);
}

ChunkCache::ChunkCache(uint64_t budget, size_t largestBlock)
    : budget_(budget),
      // A small budget gets smaller chunks so that several take turns.
      chunkSize_(std::max(roundUpToPage(largestBlock),
                          std::min<size_t>(kPreferredChunk, budget / 4 / kPage * kPage))),
      // One beyond the budget: the chunk being written to the file holds
      // bytes already released, the producer's may be partly empty.
      chunkLimit_(static_cast<size_t>((budget + chunkSize_ - 1) / chunkSize_) + 1),
      // After compaction the lag and less than a line are kept, so any block
      // a chunk takes fits.
      staging_(new (std::align_val_t(kLine))
                   uint8_t[std::max(kStagingWindow, chunkSize_) + kStreamLag + kLine]) {}

ChunkCache::~ChunkCache() = default;

size_t ChunkCache::chunksAllocated() const {
    std::lock_guard lock(mutex_);
    return chunks_.size();
}

bool ChunkCache::nextChunk() {
    std::lock_guard lock(mutex_);
    Chunk* next = nullptr;
    if (!free_.empty()) {
        next = free_.back();
        free_.pop_back();
    } else if (chunks_.size() < chunkLimit_) {
        try {
            chunks_.push_back(std::make_unique<Chunk>(chunkSize_));
        } catch (const std::bad_alloc&) {
            return false;  // the frame is dropped and counted like any other
        }
        next = chunks_.back().get();
    } else {
        return false;
    }
    next->published.store(0, std::memory_order_relaxed);
    next->sealed.store(false, std::memory_order_relaxed);
    next->consumed = 0;
    if (current_ != nullptr) {
        storeRest();
        current_->published.store(filled_, std::memory_order_relaxed);
        current_->sealed.store(true, std::memory_order_release);
    }
    queue_.push_back(next);
    current_ = next;
    filled_ = 0;
    stored_ = 0;
    stagingBase_ = 0;
    return true;
}

void ChunkCache::publish() {
    if (current_ == nullptr) return;
    storeRest();
    current_->published.store(filled_, std::memory_order_release);
}

void ChunkCache::storeRest() {
    if (filled_ > stored_)
        std::memcpy(current_->data + stored_, staging_.get() + (stored_ - stagingBase_),
                    filled_ - stored_);
    stored_ = filled_;
#if defined(__SSE2__)
    // A release store does not order streaming stores: the fence does.
    if (kStreamingStores) _mm_sfence();
#endif
}

void ChunkCache::compactStaging() {
    const size_t base = stored_ & ~(kLine - 1);
    std::memmove(staging_.get(), staging_.get() + (base - stagingBase_), filled_ - base);
    stagingBase_ = base;
}

std::span<const uint8_t> ChunkCache::readable() {
    std::lock_guard lock(mutex_);
    while (!queue_.empty()) {
        Chunk* front = queue_.front();
        // Sealed first: a sealed chunk's published length is final.
        const bool sealed = front->sealed.load(std::memory_order_acquire);
        const size_t published = front->published.load(std::memory_order_acquire);
        if (front->consumed < published)
            return {front->data + front->consumed, published - front->consumed};
        if (!sealed) return {};
        queue_.pop_front();
        free_.push_back(front);
    }
    return {};
}

void ChunkCache::release(size_t length) {
    {
        std::lock_guard lock(mutex_);
        queue_.front()->consumed += length;
    }
    tail_.store(tail_.load(std::memory_order_relaxed) + length, std::memory_order_release);
}

}  // namespace nettlebeam::traffic
