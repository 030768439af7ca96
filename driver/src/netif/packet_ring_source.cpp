#include "packet_ring_source.h"

#include <sys/epoll.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <stdexcept>

#include "../traffic/traffic_engine.h"

namespace nettlebeam::driver::netif {

namespace {

// The kernel's drop counters take a system call each; a tenth of a second
// is fresh enough for statistics read by people and polling tools.
constexpr auto kLostInterval = std::chrono::milliseconds(100);

}  // namespace

PacketRingSource::PacketRingSource(std::vector<PortRing> rings) : rings_(std::move(rings)) {
    // One descriptor for both rings: readable when either has a block.
    epollFd_ = epoll_create1(EPOLL_CLOEXEC);
    if (epollFd_ < 0)
        throw std::runtime_error(std::string("cannot wait on the packet rings: ") +
                                 std::strerror(errno));
    for (const PortRing& r : rings_) {
        epoll_event event{};
        event.events = EPOLLIN;
        event.data.fd = r.ring->descriptor();
        if (epoll_ctl(epollFd_, EPOLL_CTL_ADD, r.ring->descriptor(), &event) != 0) {
            const std::string reason = std::strerror(errno);
            close(epollFd_);
            throw std::runtime_error("cannot wait on the packet rings: " + reason);
        }
    }
}

PacketRingSource::~PacketRingSource() {
    close(epollFd_);
}

const traffic::Frame* PacketRingSource::next(uint64_t) {
    if (taken_ != nullptr) taken_->pop();
    taken_ = nullptr;
    // The older head first, so the ports interleave as the frames arrived.
    const PacketRing::Received* best = nullptr;
    const PortRing* from = nullptr;
    for (const PortRing& r : rings_) {
        const PacketRing::Received* head = r.ring->peek();
        if (head != nullptr && (best == nullptr || head->timestampNs < best->timestampNs)) {
            best = head;
            from = &r;
        }
    }
    if (best == nullptr) return nullptr;
    handedSinceAsked_ = true;
    taken_ = from->ring.get();
    frame_.bytes = best->bytes;
    frame_.hasFcs = false;  // the interface strips it
    frame_.wireLength = best->length + 4;
    frame_.port = from->port;
    frame_.flags = 0;  // the interface drops frames with a bad FCS itself
    frame_.timestampNs = best->timestampNs;
    frame_.headersOnly = best->headersOnly;
    return &frame_;
}

uint64_t PacketRingSource::nextDueNs() {
    // The last frame handed over may go: it is valid only until this call.
    if (taken_ != nullptr) taken_->pop();
    taken_ = nullptr;
    // A frame that has arrived is due at once; otherwise the descriptor says.
    for (const PortRing& r : rings_)
        if (r.ring->peek() != nullptr) return 0;
    // The drop counters are read at most every kLostInterval: drops the
    // kernel counted after the last read would wait for the next frame,
    // however long that is, so the engine wakes once more to read them.
    if (handedSinceAsked_) {
        const auto wait = std::chrono::duration_cast<std::chrono::nanoseconds>(
            lostAskedAt_ + kLostInterval - std::chrono::steady_clock::now());
        return traffic::steadyWallClockNs() +
               static_cast<uint64_t>(std::max<int64_t>(wait.count(), 0));
    }
    return kWhenReadable;
}

void PacketRingSource::keepWholeFrames(bool whole) {
    for (const PortRing& r : rings_) r.ring->keepWholeFrames(whole);
}

std::array<uint64_t, 2> PacketRingSource::takeLost() {
    std::array<uint64_t, 2> lost{};
    const auto now = std::chrono::steady_clock::now();
    if (now - lostAskedAt_ < kLostInterval) return lost;
    lostAskedAt_ = now;
    handedSinceAsked_ = false;
    for (const PortRing& r : rings_) lost[static_cast<size_t>(r.port)] += r.ring->takeDrops();
    return lost;
}

}  // namespace nettlebeam::driver::netif
