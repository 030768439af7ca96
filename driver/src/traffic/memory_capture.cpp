#include "memory_capture.h"

#include <cstring>

#include "counters.h"
#include "pcapng.h"

namespace nettlebeam::traffic {

bool MemoryCapture::setMode(uint32_t mode) {
    if (mode != 0) return false;
    mode_ = mode;
    return true;
}

bool MemoryCapture::start(uint32_t snapLength, uint64_t cacheSize) {
    std::unique_ptr<ByteRing> ring;
    try {
        ring = std::make_unique<ByteRing>(cacheSize);
    } catch (const std::exception&) {
        return false;
    }
    std::lock_guard lock(mutex_);
    std::lock_guard reading(readMutex_);
    ring_ = std::move(ring);
    snapLength_ = snapLength;
    dropped_ = 0;
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
    std::lock_guard reading(readMutex_);
    // The engine only adds to the ring; the reader alone removes, so the ring
    // may be read without the engine's lock while readMutex_ keeps it alive.
    if (!ring_) return 0;
    const auto pending = ring_->readable();
    size_t length = 0;
    while (length < pending.size()) {
        const uint32_t block = pcapng::blockLength(pending.data() + length);
        if (length + block > capacity) break;
        length += block;
    }
    std::memcpy(out, pending.data(), length);
    ring_->release(length);
    return length;
}

bool MemoryCapture::offer(Port port, uint64_t timestampNs, std::span<const uint8_t> data,
                          std::span<const uint8_t> extra, uint32_t originalLength) {
    const size_t size = pcapng::enhancedPacketSize(data.size() + extra.size());
    uint8_t* block = ring_->reserve(size);
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
