// A single-producer single-consumer byte ring whose memory is mapped twice
// back to back, so every reserved or readable region is contiguous even when
// it wraps. The producer reserves room for whole blocks and commits them; the
// consumer reads what was committed and releases it.
#pragma once

#include <algorithm>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <span>

namespace nettlebeam::traffic {

class ByteRing {
  public:
    // Capacity is rounded up to whole pages. Throws std::system_error when
    // the memory cannot be mapped.
    explicit ByteRing(size_t capacity);
    ~ByteRing();
    ByteRing(const ByteRing&) = delete;
    ByteRing& operator=(const ByteRing&) = delete;

    size_t capacity() const { return capacity_; }
    size_t used() const {
        return static_cast<size_t>(head_.load(std::memory_order_acquire) -
                                   tail_.load(std::memory_order_acquire));
    }

    // Producer: room for `length` bytes, or null when the ring is too full.
    uint8_t* reserve(size_t length) {
        const uint64_t head = head_.load(std::memory_order_relaxed);
        if (length > capacity_ - (head - cachedTail_)) {
            cachedTail_ = tail_.load(std::memory_order_acquire);
            if (length > capacity_ - (head - cachedTail_)) return nullptr;
        }
        return base_ + (head % capacity_);
    }
    void commit(size_t length) {
        head_.store(head_.load(std::memory_order_relaxed) + length, std::memory_order_release);
    }

    // Consumer: everything committed and not yet released.
    std::span<const uint8_t> readable() const {
        const uint64_t tail = tail_.load(std::memory_order_relaxed);
        const uint64_t head = head_.load(std::memory_order_acquire);
        return {base_ + (tail % capacity_), static_cast<size_t>(head - tail)};
    }
    void release(size_t length) {
        tail_.store(tail_.load(std::memory_order_relaxed) + length, std::memory_order_release);
    }
    // Consumer: drop everything committed so far.
    void discardAll() {
        tail_.store(head_.load(std::memory_order_acquire), std::memory_order_release);
    }

  private:
    uint8_t* base_ = nullptr;
    size_t capacity_ = 0;
    alignas(64) std::atomic<uint64_t> head_{0};
    uint64_t cachedTail_ = 0;  // producer's last view of tail_
    alignas(64) std::atomic<uint64_t> tail_{0};
};

}  // namespace nettlebeam::traffic
