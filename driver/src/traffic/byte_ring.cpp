#include "byte_ring.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cerrno>
#include <system_error>

#ifndef F_SEAL_FUTURE_WRITE
#define F_SEAL_FUTURE_WRITE 0x0010
#endif

namespace nettlebeam::traffic {
namespace {

namespace ring = wire::ring;

[[noreturn]] void failWith(const char* what) {
    throw std::system_error(errno, std::generic_category(), what);
}

size_t wholePages(size_t capacity) {
    const size_t page = static_cast<size_t>(sysconf(_SC_PAGESIZE));
    return std::max(page, (capacity + page - 1) / page * page);
}

// Maps `capacity` bytes of `fd` twice back to back; throws when it cannot.
uint8_t* mapTwice(int fd, size_t capacity) {
    // Reserve twice the size, then map the same pages into both halves.
    void* area = mmap(nullptr, 2 * capacity, PROT_NONE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (area == MAP_FAILED) failWith("mmap");
    auto* base = static_cast<uint8_t*>(area);
    // The pages are populated now: a fault per page in the middle of a
    // capture costs more than the memory the cache is allowed anyway.
    for (uint8_t* half : {base, base + capacity}) {
        if (mmap(half, capacity, PROT_READ | PROT_WRITE, MAP_SHARED | MAP_FIXED | MAP_POPULATE, fd,
                 0) == MAP_FAILED) {
            const int error = errno;
            munmap(area, 2 * capacity);
            errno = error;
            failWith("mmap");
        }
    }
    return base;
}

}  // namespace

SharedByteRing::SharedByteRing(size_t capacity, uint64_t generation)
    : capacity_(wholePages(capacity)), generation_(generation) {
    try {
        dataFd_ = memfd_create("nettlebeam-memory-capture", MFD_CLOEXEC | MFD_ALLOW_SEALING);
        if (dataFd_ < 0) failWith("memfd_create");
        if (ftruncate(dataFd_, static_cast<off_t>(capacity_)) != 0) failWith("ftruncate");
        base_ = mapTwice(dataFd_, capacity_);
        // Clients get these descriptors. Neither file may shrink under the
        // driver's mappings (its next access would fault), and the data can
        // no longer be mapped writable by anyone; the driver's own mapping
        // was made before and stays writable.
        if (fcntl(dataFd_, F_ADD_SEALS,
                  F_SEAL_SHRINK | F_SEAL_GROW | F_SEAL_FUTURE_WRITE | F_SEAL_SEAL) != 0)
            failWith("sealing the capture memory");
        controlFd_ =
            memfd_create("nettlebeam-memory-capture-control", MFD_CLOEXEC | MFD_ALLOW_SEALING);
        if (controlFd_ < 0) failWith("memfd_create");
        if (ftruncate(controlFd_, ring::kControlPageSize) != 0) failWith("ftruncate");
        void* page = mmap(nullptr, ring::kControlPageSize, PROT_READ | PROT_WRITE, MAP_SHARED,
                          controlFd_, 0);
        if (page == MAP_FAILED) failWith("mmap");
        control_ = static_cast<uint8_t*>(page);
        if (fcntl(controlFd_, F_ADD_SEALS, F_SEAL_SHRINK | F_SEAL_GROW | F_SEAL_SEAL) != 0)
            failWith("sealing the capture control page");
    } catch (...) {
        release();
        throw;
    }
    ring::word32(control_, ring::kMagicAt).store(ring::kControlMagic);
    ring::word32(control_, ring::kVersionAt).store(ring::kLayoutVersion);
    ring::word64(control_, ring::kCapacityAt).store(capacity_);
    ring::word64(control_, ring::kGenerationAt).store(generation_);
    ring::word64(control_, ring::kHeadAt).store(0);
    ring::word64(control_, ring::kTailAt).store(0);
    ring::word32(control_, ring::kStateAt).store(ring::kOpen, std::memory_order_release);
}

SharedByteRing::~SharedByteRing() {
    close();
    release();
}

void SharedByteRing::release() {
    if (base_ != nullptr) munmap(base_, 2 * capacity_);
    if (control_ != nullptr) munmap(control_, ring::kControlPageSize);
    if (dataFd_ >= 0) ::close(dataFd_);
    if (controlFd_ >= 0) ::close(controlFd_);
    base_ = control_ = nullptr;
    dataFd_ = controlFd_ = -1;
}

void SharedByteRing::close() {
    if (control_ != nullptr)
        ring::word32(control_, ring::kStateAt).store(ring::kClosed, std::memory_order_release);
}

bool SharedByteRing::tailAcceptable(uint64_t tail, uint64_t head) const {
    return tail >= confirmedTail_.load(std::memory_order_acquire) && tail <= head;
}

void SharedByteRing::confirm(uint64_t tail) {
    uint64_t known = confirmedTail_.load(std::memory_order_relaxed);
    while (tail > known && !confirmedTail_.compare_exchange_weak(
                               known, tail, std::memory_order_release, std::memory_order_relaxed)) {
    }
}

bool SharedByteRing::refreshTail() {
    // The floor is read before the tail: a tail read after a newer floor was
    // published is at least that floor, so a fault is never seen by mistake.
    const uint64_t floor = confirmedTail_.load(std::memory_order_acquire);
    const uint64_t tail = tailWord().load(std::memory_order_acquire);
    if (tail < floor || tail > head_) {
        tailFault_.store(true, std::memory_order_release);
        return false;
    }
    cachedTail_ = tail;
    confirm(tail);
    return true;
}

bool SharedByteRing::take(uint8_t* out, size_t limit, size_t& taken) {
    taken = 0;
    auto tailRef = tailWord();
    for (int attempt = 0; attempt < 100000; ++attempt) {
        const uint64_t floor = confirmedTail_.load(std::memory_order_acquire);
        uint64_t tail = tailRef.load(std::memory_order_acquire);
        const uint64_t head = headWord().load(std::memory_order_acquire);
        if (tail < floor || tail > head) return false;
        if (tail == head) return true;
        if (head - tail > capacity_) {
            // Read before another reader moved on and the producer refilled.
            if (tailRef.load(std::memory_order_acquire) != tail) continue;
            return false;
        }
        // Copied, then walked in the copy: see wire::ring::walkRun.
        const uint64_t copied = std::min<uint64_t>(head - tail, limit);
        std::memcpy(out, base_ + tail % capacity_, copied);
        const ring::Walk walk = ring::walkRun(out, head - tail, copied);
        if (!walk.sound) {
            if (tailRef.load(std::memory_order_acquire) != tail) continue;
            return false;
        }
        if (walk.bytes == 0) return true;
        if (tailRef.compare_exchange_strong(tail, tail + walk.bytes, std::memory_order_acq_rel,
                                            std::memory_order_acquire)) {
            confirm(tail + walk.bytes);
            taken = walk.bytes;
            return true;
        }
    }
    return false;  // something keeps moving the tail without taking blocks
}

uint64_t SharedByteRing::detach() {
    if (detached_.load(std::memory_order_relaxed)) return 0;
    close();
    // Where the unread blocks begin is only known from the tail that was just
    // found wrong: start afresh at the head.
    const uint64_t dropped = head_ - std::min(head_, confirmedTail_.load());
    std::atomic_ref<uint64_t>(privateTail_).store(head_, std::memory_order_release);
    cachedTail_ = head_;
    confirmedTail_.store(head_, std::memory_order_release);
    detached_.store(true, std::memory_order_release);
    tailFault_.store(false, std::memory_order_release);
    return dropped;
}

}  // namespace nettlebeam::traffic
