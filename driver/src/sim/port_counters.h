// The hardware counters of the two ports, fed one frame at a time. The idle
// model feeds nothing or a trickle; a traffic engine feeds every frame.
#pragma once

#include <array>
#include <cstdint>

namespace nettlebeam::driver::sim {

// What the counters need to know about one frame seen on a port.
struct FrameInfo {
    int port = 0;         // 0 port A, 1 port B
    uint32_t length = 0;  // bytes on the wire, CRC included
    bool crcValid = true;
    bool jabber = false;     // over-long frame with a bad CRC
    bool collision = false;  // a half-duplex collision fragment
    bool dropped = false;    // the device could not keep it
    bool ipv4 = false;
    bool ipv6 = false;
    bool broadcast = false;
    bool multicast = false;
    bool icmp = false;
    bool udp = false;
    bool tcp = false;
    // Source and destination addresses, stored last byte first like the
    // counters' address patterns (an IPv4 address in the first four bytes).
    std::array<uint8_t, 16> sourceIp{};
    std::array<uint8_t, 16> destinationIp{};
};

struct PortCounterValues {
    uint64_t bytes = 0;
    uint64_t under64 = 0;
    uint64_t from64To1518 = 0;
    uint64_t over1518 = 0;
    uint64_t crcErrors = 0;
    uint64_t jabbers = 0;
    uint64_t collisions = 0;
    uint64_t hardwareDrops = 0;
};

class PortCounters {
  public:
    void count(const FrameInfo& frame);
    const PortCounterValues& port(int index) const { return ports_[index]; }
    uint64_t framesCounted() const { return frames_; }
    void reset() { *this = PortCounters{}; }

  private:
    std::array<PortCounterValues, 2> ports_{};
    uint64_t frames_ = 0;
};

}  // namespace nettlebeam::driver::sim
