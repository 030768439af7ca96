// Builds real Ethernet frames: ARP, IPv4 and IPv6 with TCP, UDP, ICMP and
// IGMP, using the well-known ports of common applications, with correct
// header checksums and FCS, in the sizes of the traffic mix. Port A carries
// the client side of each conversation, port B the server side.
#pragma once

#include <array>
#include <cstdint>
#include <vector>

#include "frame.h"
#include "traffic_profile.h"

namespace nettlebeam::traffic {

class FrameGenerator {
  public:
    // `halfDuplex`: the port is copper in half duplex, where collisions happen.
    FrameGenerator(const TrafficProfile& profile, bool halfDuplex);

    // Builds the next frame for `port`. The frame's bytes stay valid until the
    // next call.
    const Frame& make(Port port, uint64_t timestampNs);
    void setHalfDuplex(bool halfDuplex) { halfDuplex_ = halfDuplex; }

  private:
    enum class Kind : uint8_t { Tcp4, Udp4, Tcp6, Udp6, Icmp4, Icmp6, Igmp, Arp, Lldp };
    struct Flow {
        Kind kind;
        uint16_t serverPort;
        uint8_t tcpFlags;
        bool multicast;
        const char* payloadText;  // start of the application payload, or null
    };

    static size_t minimumData(Kind kind);
    uint64_t random();
    uint32_t pickSize();
    const Flow& pickFlow();
    size_t buildHeaders(const Flow& flow, bool fromClient, size_t totalLength, uint8_t* out);
    size_t buildIPv4(const Flow& flow, bool fromClient, size_t totalLength, uint8_t* out);
    size_t buildIPv6(const Flow& flow, bool fromClient, size_t totalLength, uint8_t* out);
    void fillPayload(uint8_t* from, size_t length, const char* text);

    TrafficProfile profile_;
    bool halfDuplex_;
    uint64_t state_;
    uint32_t weightTotal_ = 0;
    std::vector<uint8_t> buffer_;
    std::array<uint8_t, 4096> noise_{};
    Frame frame_;
};

// Internet checksum helpers, shared with the tests.
uint32_t onesComplementSum(const uint8_t* data, size_t length, uint32_t sum = 0);
uint16_t foldChecksum(uint32_t sum);

}  // namespace nettlebeam::traffic
