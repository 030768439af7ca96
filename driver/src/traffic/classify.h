// One parse per frame: everything the counters, the filters and the size
// classes need to know about a frame, read once from its headers.
#pragma once

#include <array>
#include <cstdint>

#include "frame.h"

namespace nettlebeam::traffic {

// Packet classes, numbered like the bits of the device's packet-type word.
enum class PacketClass : uint8_t {
    IPv4 = 1,
    IPv6 = 2,
    Arp = 3,
    Tcp = 7,
    Udp = 8,
    Icmp = 9,
    Igmp = 10,
    Https = 11,
    Http = 12,
    Ftp = 13,
    Dns = 14,
    Smtp = 15,
    Pop3 = 16,
    Dhcp = 17,
    Ssh = 18,
    Sip = 19,
    Smb = 20,
    TcpFin = 21,
    TcpSyn = 22,
    TcpRst = 23,
    TcpPush = 24,
    TcpAck = 25,
    TcpZeroWindow = 29,
    Quic = 30,
    OtherLayer2 = 61,
    OtherLayer4 = 63,
};

constexpr uint64_t classBit(PacketClass c) {
    return uint64_t{1} << static_cast<unsigned>(c);
}

struct FrameInfo {
    uint64_t classes = 0;  // classBit() of every class the frame belongs to
    bool broadcast = false;
    bool multicast = false;  // group bit set, not broadcast
    bool unicast = false;
    bool ipv4 = false;
    bool ipv6 = false;
    bool tcp = false;
    bool udp = false;
    bool icmp = false;  // ICMP over IPv4 or ICMPv6
    // Addresses in network order; IPv4 addresses fill the first four bytes.
    std::array<uint8_t, 6> dstMac{};
    std::array<uint8_t, 6> srcMac{};
    std::array<uint8_t, 16> dstIp{};
    std::array<uint8_t, 16> srcIp{};
    uint16_t dstPort = 0;  // TCP and UDP only
    uint16_t srcPort = 0;
    bool hasPorts = false;
    // Where the payload starts: after the TCP/UDP header, else after the IP
    // header, else after the Ethernet header; equal to the frame length when
    // there is none.
    uint32_t payloadOffset = 0;

    bool is(PacketClass c) const { return (classes & classBit(c)) != 0; }
};

// Parses the Ethernet, VLAN, IP and transport headers that are present in
// the captured bytes. Truncated headers end the parse at the last complete one.
FrameInfo classify(const Frame& frame);

}  // namespace nettlebeam::traffic
