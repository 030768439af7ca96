#include "memory_capture.h"

#include <fcntl.h>
#include <unistd.h>

#include <cstring>
#include <string>

#include "counters.h"
#include "log.h"
#include "pcapng.h"

namespace nettlebeam::traffic {

namespace {

// Process-wide, so that no two captures (of any device) share a generation.
std::atomic<uint64_t> nextGeneration{1};

}  // namespace

bool MemoryCapture::setMode(uint32_t mode) {
    if (mode != 0) return false;
    mode_ = mode;
    return true;
}

bool MemoryCapture::start(uint32_t snapLength, uint64_t cacheSize) {
    std::unique_ptr<SharedByteRing> ring;
    try {
        ring = std::make_unique<SharedByteRing>(cacheSize, nextGeneration.fetch_add(1));
    } catch (const std::exception&) {
        return false;
    }
    std::lock_guard lock(mutex_);
    std::lock_guard reading(readMutex_);
    ring_ = std::move(ring);
    snapLength_ = snapLength;
    dropped_ = 0;
    withdrawn_ = false;
    running_ = true;
    return true;
}

void MemoryCapture::stop() {
    std::lock_guard lock(mutex_);
    std::lock_guard reading(readMutex_);
    ring_.reset();
    running_ = false;
}

std::vector<uint8_t> MemoryCapture::header(uint32_t capacity) const {
    auto bytes = pcapng::fileHeader(snapLength_, "nettlebeamd");
    if (bytes.size() > capacity) return {};
    return bytes;
}

size_t MemoryCapture::read(uint8_t* out, size_t capacity) {
    for (int round = 0; round < 2; ++round) {
        {
            std::lock_guard reading(readMutex_);
            // The engine only adds to the ring and readers remove with a
            // compare-and-swap, so the ring is read without the engine's
            // lock while readMutex_ keeps it alive.
            if (!ring_) return 0;
            size_t taken = 0;
            if (ring_->take(out, capacity, taken)) return taken;
        }
        withdrawSharing();
    }
    return 0;
}

uint64_t MemoryCapture::cached() {
    std::lock_guard reading(readMutex_);
    return ring_ ? ring_->unread() : 0;
}

std::optional<MemoryCapture::Share> MemoryCapture::share() {
    std::lock_guard reading(readMutex_);
    if (!ring_ || !ring_->shared()) return std::nullopt;
    Share out;
    out.dataFd = fcntl(ring_->dataFd(), F_DUPFD_CLOEXEC, 0);
    out.controlFd = fcntl(ring_->controlFd(), F_DUPFD_CLOEXEC, 0);
    if (out.dataFd < 0 || out.controlFd < 0) {
        if (out.dataFd >= 0) close(out.dataFd);
        if (out.controlFd >= 0) close(out.controlFd);
        return std::nullopt;
    }
    out.capacity = ring_->capacity();
    out.generation = ring_->generation();
    return out;
}

void MemoryCapture::withdrawSharing() {
    // The engine's lock first, as everywhere: neither the producer nor the
    // data request may run while the tail is replaced.
    std::lock_guard lock(mutex_);
    std::lock_guard reading(readMutex_);
    detachLocked();
}

void MemoryCapture::detachLocked() {
    if (!ring_ || !ring_->shared()) return;
    const uint64_t dropped = ring_->detach();
    withdrawn_ = true;
    driver::logLine("memory capture " + std::to_string(ring_->generation()) +
                    ": a client moved the shared tail where it cannot be; sharing stopped, " +
                    std::to_string(dropped) + " unread bytes dropped");
}

bool MemoryCapture::offer(Port port, uint64_t timestampNs, std::span<const uint8_t> data,
                          std::span<const uint8_t> extra, uint32_t originalLength) {
    const size_t size = pcapng::enhancedPacketSize(data.size() + extra.size());
    uint8_t* block = ring_->reserve(size);
    if (block == nullptr && ring_->tailFaulted()) {
        // mutex_ is held by the engine's batch: take the reader's lock only.
        {
            std::lock_guard reading(readMutex_);
            detachLocked();
        }
        block = ring_->reserve(size);
    }
    if (block == nullptr) {
        bump(dropped_);
        return false;
    }
    pcapng::writeEnhancedPacket(block, static_cast<uint32_t>(port), timestampNs, data, extra,
                                originalLength);
    ring_->commit(size);
    return true;
}

}  // namespace nettlebeam::traffic
