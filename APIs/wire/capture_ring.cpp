#include "capture_ring.h"

#include <poll.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "byte_order.h"

namespace nettlebeam::wire::ring {

namespace {

// A reader whose compare-and-swap keeps failing loses to others that make
// progress; this many losses in one call mean something else moves the tail.
constexpr int kMaxAttempts = 100000;

bool sizeIs(int fd, uint64_t expected) {
    struct stat info {};
    return fstat(fd, &info) == 0 && static_cast<uint64_t>(info.st_size) == expected;
}

}  // namespace

void encodeShareReply(const ShareReply& reply, uint8_t out[kShareReplySize]) {
    const std::span<uint8_t> bytes(out, kShareReplySize);
    writeLe32(bytes, 0, reply.version);
    writeLe32(bytes, 4, reply.controlSize);
    writeLe64(bytes, 8, reply.capacity);
    writeLe64(bytes, 16, reply.generation);
}

std::optional<ShareReply> decodeShareReply(std::span<const uint8_t> bytes) {
    if (bytes.size() != kShareReplySize) return std::nullopt;
    ShareReply reply;
    reply.version = readLe32(bytes, 0);
    reply.controlSize = readLe32(bytes, 4);
    reply.capacity = readLe64(bytes, 8);
    reply.generation = readLe64(bytes, 16);
    return reply;
}

Walk walkRun(const uint8_t* start, uint64_t waiting, uint64_t limit) {
    uint64_t taken = 0;
    while (taken < waiting) {
        // The producer commits whole blocks only: a remainder shorter than a
        // block is as impossible as a bad length.
        if (waiting - taken < kMinBlockLength) return {taken, false};
        // No block fits what is left of the limit: its length is not needed
        // (and may lie beyond a copy of `limit` bytes).
        if (limit - taken < kMinBlockLength) break;
        const uint32_t length = readLe32({start + taken, kMinBlockLength}, 4);
        if (length % 4 != 0 || length < kMinBlockLength || length > waiting - taken)
            return {taken, false};
        if (length > limit - taken) break;
        taken += length;
    }
    return {taken, true};
}

Walk walkBlocks(const uint8_t* data, uint64_t capacity, uint64_t tail, uint64_t head,
                uint64_t limit) {
    if (head < tail || head - tail > capacity) return {0, false};
    return walkRun(data + tail % capacity, head - tail, limit);
}

std::unique_ptr<SharedCaptureRing> SharedCaptureRing::open(const std::string& controlPath,
                                                           int32_t handle) {
    uint8_t input[4];
    writeLe32(input, 0, static_cast<uint32_t>(handle));
    uint8_t replyBytes[kShareReplySize];
    DescriptorReply reply =
        transactWithDescriptors(controlPath, kShareMemoryCapture, input, 4, replyBytes,
                                kShareReplySize, kSharedDescriptors);
    if (reply.result != static_cast<int32_t>(kShareReplySize) ||
        reply.descriptors.size() != kSharedDescriptors)
        return nullptr;
    const auto share = decodeShareReply(replyBytes);
    const auto page = static_cast<uint64_t>(sysconf(_SC_PAGESIZE));
    if (!share || share->version != kLayoutVersion || share->controlSize != kControlPageSize ||
        share->capacity == 0 || share->capacity > kMaxCapacity || share->capacity % page != 0)
        return nullptr;
    const int dataFd = reply.descriptors[0].get();
    const int controlFd = reply.descriptors[1].get();
    // A mapping beyond the end of a file faults on access: the sizes must be
    // exactly what the reply says before anything is mapped.
    if (!sizeIs(dataFd, share->capacity) || !sizeIs(controlFd, kControlPageSize)) return nullptr;

    std::unique_ptr<SharedCaptureRing> ring(new SharedCaptureRing);
    void* control =
        mmap(nullptr, kControlPageSize, PROT_READ | PROT_WRITE, MAP_SHARED, controlFd, 0);
    if (control == MAP_FAILED) return nullptr;
    ring->control_ = static_cast<uint8_t*>(control);
    uint8_t* page0 = ring->control_;
    // The daemon writes the control page through the same accessors.
    if (word32(page0, kMagicAt).load() != kControlMagic ||
        word32(page0, kVersionAt).load() != kLayoutVersion ||
        word64(page0, kCapacityAt).load() != share->capacity ||
        word64(page0, kGenerationAt).load(std::memory_order_acquire) != share->generation)
        return nullptr;

    const size_t capacity = share->capacity;
    void* area = mmap(nullptr, 2 * capacity, PROT_NONE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (area == MAP_FAILED) return nullptr;
    ring->data_ = static_cast<uint8_t*>(area);
    ring->capacity_ = capacity;
    for (uint8_t* half : {ring->data_, ring->data_ + capacity})
        if (mmap(half, capacity, PROT_READ, MAP_SHARED | MAP_FIXED | MAP_POPULATE, dataFd, 0) ==
            MAP_FAILED)
            return nullptr;
    ring->generation_ = share->generation;
    ring->connection_ = std::move(reply.connection);
    return ring;
}

SharedCaptureRing::~SharedCaptureRing() {
    if (data_ != nullptr) munmap(data_, 2 * capacity_);
    if (control_ != nullptr) munmap(control_, kControlPageSize);
}

bool SharedCaptureRing::stillServed() const {
    // The driver never writes on this connection: readable means it closed
    // its end (capture withdrawn, device gone) or died.
    pollfd watch{connection_.get(), POLLIN | POLLRDHUP, 0};
    int ready;
    do {
        ready = poll(&watch, 1, 0);
    } while (ready < 0 && errno == EINTR);
    if (ready != 0) return false;
    return word32(control_, kStateAt).load(std::memory_order_acquire) == kOpen &&
           word64(control_, kGenerationAt).load(std::memory_order_relaxed) == generation_;
}

SharedCaptureRing::Outcome SharedCaptureRing::read(uint8_t* out, size_t capacity, size_t& bytes) {
    bytes = 0;
    if (!stillServed()) return Outcome::Closed;
    auto tailWord = word64(control_, kTailAt);
    auto headWord = word64(control_, kHeadAt);
    for (int attempt = 0; attempt < kMaxAttempts; ++attempt) {
        uint64_t tail = tailWord.load(std::memory_order_acquire);
        const uint64_t head = headWord.load(std::memory_order_acquire);
        Walk walk{0, head >= tail && head - tail <= capacity_};
        if (walk.sound && head > tail) {
            // Copy first, walk the copy: walking the ring itself would wait
            // for one cache miss per block, each length depending on the last.
            const uint64_t copied = std::min<uint64_t>(head - tail, capacity);
            std::memcpy(out, data_ + tail % capacity_, copied);
            walk = walkRun(out, head - tail, copied);
        }
        if (!walk.sound) {
            // Another reader took blocks meanwhile and the producer reused
            // their room: look again from the new tail.
            if (tailWord.load(std::memory_order_acquire) != tail) continue;
            return stillServed() ? Outcome::Corrupt : Outcome::Closed;
        }
        if (walk.bytes == 0) return Outcome::Read;
        // The producer never writes into [tail, head): when the tail is still
        // where the copy began, the copy is whole.
        if (tailWord.compare_exchange_strong(tail, tail + walk.bytes, std::memory_order_acq_rel,
                                             std::memory_order_acquire)) {
            bytes = walk.bytes;
            return Outcome::Read;
        }
    }
    return Outcome::Corrupt;
}

}  // namespace nettlebeam::wire::ring
