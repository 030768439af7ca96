#include "classify.h"

#include <algorithm>
#include <cstring>

namespace nettlebeam::traffic {
namespace {

constexpr uint16_t kEtherIPv4 = 0x0800;
constexpr uint16_t kEtherIPv6 = 0x86DD;
constexpr uint16_t kEtherArp = 0x0806;
constexpr uint16_t kEtherVlan = 0x8100;
constexpr uint16_t kEtherQinQ = 0x88A8;

constexpr uint8_t kProtoIcmp = 1;
constexpr uint8_t kProtoIgmp = 2;
constexpr uint8_t kProtoTcp = 6;
constexpr uint8_t kProtoUdp = 17;
constexpr uint8_t kProtoIcmpV6 = 58;

uint16_t be16(const uint8_t* p) {
    return static_cast<uint16_t>(p[0] << 8 | p[1]);
}

bool eitherPort(const FrameInfo& info, uint16_t a, uint16_t b = 0) {
    return info.srcPort == a || info.dstPort == a ||
           (b != 0 && (info.srcPort == b || info.dstPort == b));
}

// Application classes by well-known port, on either side of the conversation.
void classifyApplication(FrameInfo& info) {
    auto set = [&](PacketClass c) { info.classes |= classBit(c); };
    if (info.tcp) {
        if (eitherPort(info, 443)) set(PacketClass::Https);
        if (eitherPort(info, 80, 8080)) set(PacketClass::Http);
        if (eitherPort(info, 20, 21)) set(PacketClass::Ftp);
        if (eitherPort(info, 25, 587)) set(PacketClass::Smtp);
        if (eitherPort(info, 110)) set(PacketClass::Pop3);
        if (eitherPort(info, 22)) set(PacketClass::Ssh);
        if (eitherPort(info, 445, 139)) set(PacketClass::Smb);
    }
    if (info.udp) {
        if (eitherPort(info, 443)) set(PacketClass::Quic);
        if (eitherPort(info, 67, 68)) set(PacketClass::Dhcp);
    }
    if (eitherPort(info, 53)) set(PacketClass::Dns);
    if (eitherPort(info, 5060, 5061)) set(PacketClass::Sip);
}

void parseTcp(FrameInfo& info, const uint8_t* l4, size_t available) {
    if (available < 20) return;
    info.tcp = true;
    info.classes |= classBit(PacketClass::Tcp);
    info.srcPort = be16(l4);
    info.dstPort = be16(l4 + 2);
    info.hasPorts = true;
    const uint8_t flags = l4[13];
    if (flags & 0x01) info.classes |= classBit(PacketClass::TcpFin);
    if (flags & 0x02) info.classes |= classBit(PacketClass::TcpSyn);
    if (flags & 0x04) info.classes |= classBit(PacketClass::TcpRst);
    if (flags & 0x08) info.classes |= classBit(PacketClass::TcpPush);
    if (flags & 0x10) info.classes |= classBit(PacketClass::TcpAck);
    // A zero window on a reset says nothing about the receiver.
    if (be16(l4 + 14) == 0 && !(flags & 0x04)) info.classes |= classBit(PacketClass::TcpZeroWindow);
    const size_t headerLength = static_cast<size_t>(l4[12] >> 4) * 4;
    info.payloadOffset += static_cast<uint32_t>(std::clamp<size_t>(headerLength, 20, available));
}

void parseTransport(FrameInfo& info, uint8_t protocol, const uint8_t* l4, size_t available) {
    switch (protocol) {
        case kProtoTcp:
            parseTcp(info, l4, available);
            break;
        case kProtoUdp:
            if (available < 8) return;
            info.udp = true;
            info.classes |= classBit(PacketClass::Udp);
            info.srcPort = be16(l4);
            info.dstPort = be16(l4 + 2);
            info.hasPorts = true;
            info.payloadOffset += 8;
            break;
        case kProtoIcmp:
        case kProtoIcmpV6:
            info.icmp = true;
            info.classes |= classBit(PacketClass::Icmp);
            break;
        case kProtoIgmp:
            info.classes |= classBit(PacketClass::Igmp);
            break;
        default:
            info.classes |= classBit(PacketClass::OtherLayer4);
            break;
    }
    if (info.hasPorts) classifyApplication(info);
}

void parseIPv4(FrameInfo& info, const uint8_t* ip, size_t available) {
    if (available < 20 || (ip[0] >> 4) != 4) return;
    const size_t headerLength = static_cast<size_t>(ip[0] & 0x0F) * 4;
    if (headerLength < 20 || headerLength > available) return;
    std::memcpy(info.srcIp.data(), ip + 12, 4);
    std::memcpy(info.dstIp.data(), ip + 16, 4);
    info.payloadOffset += static_cast<uint32_t>(headerLength);
    // Only the first fragment carries the transport header.
    const bool laterFragment = (be16(ip + 6) & 0x1FFF) != 0;
    if (laterFragment) return;
    parseTransport(info, ip[9], ip + headerLength, available - headerLength);
}

bool isIPv6Extension(uint8_t next) {
    return next == 0 || next == 43 || next == 60 ||
           next == 51;  // hop-by-hop, routing, dest opts, AH
}

void parseIPv6(FrameInfo& info, const uint8_t* ip, size_t available) {
    if (available < 40 || (ip[0] >> 4) != 6) return;
    std::memcpy(info.srcIp.data(), ip + 8, 16);
    std::memcpy(info.dstIp.data(), ip + 24, 16);
    uint8_t next = ip[6];
    size_t offset = 40;
    while (isIPv6Extension(next) && offset + 8 <= available) {
        const size_t length = next == 51 ? (static_cast<size_t>(ip[offset + 1]) + 2) * 4
                                         : (static_cast<size_t>(ip[offset + 1]) + 1) * 8;
        next = ip[offset];
        offset += length;
    }
    if (offset > available) return;
    if (next == 44) return;  // fragment header: not parsed further
    info.payloadOffset += static_cast<uint32_t>(offset);
    parseTransport(info, next, ip + offset, available - offset);
}

}  // namespace

FrameInfo classify(const Frame& frame) {
    FrameInfo info;
    const uint8_t* p = frame.bytes.data();
    const size_t length = frame.bytes.size();
    if (length < 14) {
        info.classes = classBit(PacketClass::OtherLayer2);
        info.payloadOffset = static_cast<uint32_t>(length);
        return info;
    }
    std::memcpy(info.dstMac.data(), p, 6);
    std::memcpy(info.srcMac.data(), p + 6, 6);
    info.broadcast = std::all_of(p, p + 6, [](uint8_t b) { return b == 0xFF; });
    info.multicast = !info.broadcast && (p[0] & 0x01) != 0;
    info.unicast = (p[0] & 0x01) == 0;

    size_t offset = 12;
    uint16_t etherType = be16(p + offset);
    while ((etherType == kEtherVlan || etherType == kEtherQinQ) && offset + 6 <= length) {
        offset += 4;
        etherType = be16(p + offset);
    }
    offset += 2;
    info.payloadOffset = static_cast<uint32_t>(offset);
    const uint8_t* l3 = p + offset;
    const size_t available = length - offset;
    switch (etherType) {
        case kEtherIPv4:
            info.ipv4 = true;
            info.classes |= classBit(PacketClass::IPv4);
            parseIPv4(info, l3, available);
            break;
        case kEtherIPv6:
            info.ipv6 = true;
            info.classes |= classBit(PacketClass::IPv6);
            parseIPv6(info, l3, available);
            break;
        case kEtherArp:
            info.classes |= classBit(PacketClass::Arp);
            break;
        default:
            info.classes |= classBit(PacketClass::OtherLayer2);
            break;
    }
    info.payloadOffset = std::min<uint32_t>(info.payloadOffset, static_cast<uint32_t>(length));
    return info;
}

}  // namespace nettlebeam::traffic
