// The frames of an interface device: one receive ring per interface, merged
// in the order the kernel stamped them, behind one descriptor the traffic
// engine waits on.
#pragma once

#include <array>
#include <chrono>
#include <memory>
#include <vector>

#include "../traffic/frame_source.h"
#include "packet_ring.h"

namespace nettlebeam::driver::netif {

class PacketRingSource final : public traffic::FrameSource {
  public:
    struct PortRing {
        traffic::Port port;
        std::shared_ptr<PacketRing> ring;  // shared: the ports give up promiscuity at detach
    };
    // Throws std::runtime_error when the descriptor cannot be made.
    explicit PacketRingSource(std::vector<PortRing> rings);
    ~PacketRingSource() override;
    PacketRingSource(const PacketRingSource&) = delete;
    PacketRingSource& operator=(const PacketRingSource&) = delete;

    const traffic::Frame* next(uint64_t nowNs) override;
    uint64_t nextDueNs() override;
    void begin(uint64_t) override {}
    int wakeDescriptor() const override { return epollFd_; }
    std::array<uint64_t, 2> takeLost() override;

  private:
    std::vector<PortRing> rings_;
    int epollFd_ = -1;
    PacketRing* taken_ = nullptr;  // the ring whose head the last frame was
    traffic::Frame frame_;
    std::chrono::steady_clock::time_point lostAskedAt_{};
};

}  // namespace nettlebeam::driver::netif
