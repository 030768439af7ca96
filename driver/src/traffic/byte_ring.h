// The memory capture's byte ring, whose pages the driver shares with
// clients (capture_ring.h in APIs/wire has the layout). Its memory is mapped
// twice back to back, so every reserved or readable region is contiguous
// even when it wraps. The producer reserves room for whole blocks and
// commits them; any number of readers take blocks with a compare-and-swap
// on the shared tail.
#pragma once

#include <algorithm>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <span>

#include "capture_ring.h"

namespace nettlebeam::traffic {

class SharedByteRing {
  public:
    // Capacity is rounded up to whole pages; `generation` goes to the control
    // page. Throws std::system_error when the memory cannot be set up.
    SharedByteRing(size_t capacity, uint64_t generation);
    ~SharedByteRing();  // closes the control page first: readers go back to the driver
    SharedByteRing(const SharedByteRing&) = delete;
    SharedByteRing& operator=(const SharedByteRing&) = delete;

    size_t capacity() const { return capacity_; }
    uint64_t generation() const { return generation_; }
    int dataFd() const { return dataFd_; }
    int controlFd() const { return controlFd_; }

    // Producer (one thread), a few loads while the cached tail leaves room.
    // Null when the ring is too full, and also when the shared tail is
    // impossible (tailFaulted()): nothing unread is overwritten.
    uint8_t* reserve(size_t length) {
        if (length > capacity_ - (head_ - cachedTail_)) {
            if (!refreshTail()) return nullptr;
            if (length > capacity_ - (head_ - cachedTail_)) return nullptr;
        }
        return base_ + (head_ % capacity_);
    }
    void commit(size_t length) {
        head_ += length;
        headWord().store(head_, std::memory_order_release);
    }
    bool tailFaulted() const { return tailFault_.load(std::memory_order_acquire); }

    // The driver's own reader. Copies whole blocks, up to `limit` bytes, and
    // takes them with the same compare-and-swap as the clients. False when
    // the shared tail or a block at it is impossible (nothing is copied).
    bool take(uint8_t* out, size_t limit, size_t& taken);
    // Bytes committed and not yet taken, at most the capacity (a reader's
    // view: it may grow or shrink at once).
    uint64_t unread() {
        const uint64_t tail = tailWord().load(std::memory_order_acquire);
        const uint64_t head = headWord().load(std::memory_order_acquire);
        return tail < head ? std::min<uint64_t>(head - tail, capacity_) : 0;
    }

    // Whether clients may map the ring.
    bool shared() const { return !detached_.load(std::memory_order_acquire); }
    // Gives up sharing after a client broke the protocol: the control page is
    // closed, what was unread is dropped, and the ring goes on with a tail
    // of its own. The caller keeps the producer and the driver's reader out.
    // Returns the bytes dropped.
    uint64_t detach();
    // Marks the control page closed: clients stop reading it.
    void close();

  private:
    void release();      // unmaps and closes what is set up
    bool refreshTail();  // producer: false on an impossible tail
    bool tailAcceptable(uint64_t tail, uint64_t head) const;
    void confirm(uint64_t tail);
    std::atomic_ref<uint64_t> headWord() const {
        return wire::ring::word64(control_, wire::ring::kHeadAt);
    }
    std::atomic_ref<uint64_t> tailWord() {
        return detached_.load(std::memory_order_relaxed)
                   ? std::atomic_ref<uint64_t>(privateTail_)
                   : wire::ring::word64(control_, wire::ring::kTailAt);
    }

    uint8_t* base_ = nullptr;
    uint8_t* control_ = nullptr;
    size_t capacity_ = 0;
    uint64_t generation_ = 0;
    int dataFd_ = -1;
    int controlFd_ = -1;
    uint64_t head_ = 0;        // producer's
    uint64_t cachedTail_ = 0;  // producer's last accepted view of the tail
    // The furthest tail the driver has seen and accepted: a tail never moves
    // back, so one behind it is a client's fault.
    std::atomic<uint64_t> confirmedTail_{0};
    std::atomic<bool> tailFault_{false};
    std::atomic<bool> detached_{false};
    alignas(8) uint64_t privateTail_ = 0;
};

}  // namespace nettlebeam::traffic
