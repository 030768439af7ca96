#include "frame_generator.h"

#include <zlib.h>

#include <algorithm>
#include <cstring>

namespace nettlebeam::traffic {
namespace {

constexpr uint8_t kFin = 0x01, kSyn = 0x02, kRst = 0x04, kPsh = 0x08, kAck = 0x10;
constexpr uint8_t kZeroWindow = 0x80;  // generator marker, not a TCP flag

void put16(uint8_t* p, uint16_t v) {
    p[0] = static_cast<uint8_t>(v >> 8);
    p[1] = static_cast<uint8_t>(v);
}
void put32(uint8_t* p, uint32_t v) {
    put16(p, static_cast<uint16_t>(v >> 16));
    put16(p + 2, static_cast<uint16_t>(v));
}

constexpr size_t kMinimumData = 60;  // shortest frame without FCS

}  // namespace

uint32_t onesComplementSum(const uint8_t* data, size_t length, uint32_t sum) {
    for (size_t i = 0; i + 1 < length; i += 2)
        sum += static_cast<uint32_t>(data[i] << 8 | data[i + 1]);
    if (length & 1) sum += static_cast<uint32_t>(data[length - 1] << 8);
    return sum;
}

uint16_t foldChecksum(uint32_t sum) {
    while (sum >> 16) sum = (sum & 0xFFFF) + (sum >> 16);
    return static_cast<uint16_t>(~sum);
}

FrameGenerator::FrameGenerator(const TrafficProfile& profile, bool halfDuplex)
    : profile_(profile),
      halfDuplex_(halfDuplex),
      // Not a multiple of the step: nearby seeds start far apart in the sequence.
      state_(profile.seed * 0xD1B54A32D192ED03ull),
      buffer_(kMaxFrameLength) {
    for (const SizeWeight& sw : profile_.mix) weightTotal_ += sw.weight;
    for (auto& b : noise_) b = static_cast<uint8_t>(random());
}

uint64_t FrameGenerator::random() {
    // splitmix64: fast and good enough to vary headers and sizes.
    uint64_t z = (state_ += 0x9E3779B97F4A7C15ull);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
}

uint32_t FrameGenerator::pickSize() {
    if (weightTotal_ == 0) return 64;
    uint64_t pick = random() % weightTotal_;
    for (const SizeWeight& sw : profile_.mix) {
        if (pick < sw.weight) return sw.size;
        pick -= sw.weight;
    }
    return profile_.mix.back().size;
}

size_t FrameGenerator::minimumData(Kind kind) {
    switch (kind) {
        case Kind::Tcp6:
            return 14 + 40 + 20;
        case Kind::Udp6:
        case Kind::Icmp6:
            return 14 + 40 + 8;
        default:
            return kMinimumData;
    }
}

const FrameGenerator::Flow& FrameGenerator::pickFlow() {
    static constexpr Flow kFlows[] = {
        {Kind::Tcp4, 443, kAck | kPsh, false, nullptr},
        {Kind::Tcp4, 443, kAck | kPsh, false, nullptr},
        {Kind::Tcp4, 443, kAck, false, nullptr},
        {Kind::Tcp4, 80, kAck | kPsh, false,
         "GET /index.html HTTP/1.1\r\nHost: www.example.test\r\n"},
        {Kind::Tcp4, 80, kAck, false, "HTTP/1.1 200 OK\r\nContent-Type: text/html\r\n"},
        {Kind::Tcp4, 22, kAck | kPsh, false, "SSH-2.0-OpenSSH_9.2\r\n"},
        {Kind::Tcp4, 25, kAck | kPsh, false, "EHLO mail.example.test\r\n"},
        {Kind::Tcp4, 110, kAck | kPsh, false, "USER alice\r\n"},
        {Kind::Tcp4, 21, kAck | kPsh, false, "USER anonymous\r\n"},
        {Kind::Tcp4, 445, kAck | kPsh, false, "\xFFSMB"},
        {Kind::Tcp4, 443, kSyn, false, nullptr},
        {Kind::Tcp4, 80, kFin | kAck, false, nullptr},
        {Kind::Tcp4, 443, kRst | kAck, false, nullptr},
        {Kind::Tcp4, 8080, kAck | kZeroWindow, false, nullptr},
        {Kind::Udp4, 53, 0, false,
         "\x12\x34\x01\x00\x00\x01\x00\x00\x00\x00\x00\x00\x03www\x07example\x04test"},
        {Kind::Udp4, 67, 0, false, "\x01\x01\x06\x00"},
        {Kind::Udp4, 5060, 0, false, "INVITE sip:bob@example.test SIP/2.0\r\n"},
        {Kind::Udp4, 443, 0, false, nullptr},
        {Kind::Udp4, 5353, 0, true, nullptr},
        {Kind::Tcp6, 443, kAck | kPsh, false, nullptr},
        {Kind::Tcp6, 22, kAck, false, nullptr},
        {Kind::Udp6, 53, 0, false, "\x56\x78\x01\x00\x00\x01"},
        {Kind::Icmp4, 0, 0, false, nullptr},
        {Kind::Icmp6, 0, 0, false, nullptr},
        {Kind::Igmp, 0, 0, true, nullptr},
        {Kind::Arp, 0, 0, false, nullptr},
        {Kind::Lldp, 0, 0, true, nullptr},
    };
    return kFlows[random() % std::size(kFlows)];
}

void FrameGenerator::fillPayload(uint8_t* from, size_t length, const char* text) {
    size_t done = 0;
    if (text != nullptr) {
        done = std::min(length, std::strlen(text));
        std::memcpy(from, text, done);
    }
    const size_t offset = random() % noise_.size();
    while (done < length) {
        const size_t chunk = std::min(length - done, noise_.size() - offset);
        std::memcpy(from + done, noise_.data() + offset, chunk);
        done += chunk;
    }
}

namespace {

void clientMac(uint8_t* p, uint8_t host) {
    const uint8_t mac[6] = {0x02, 0x00, 0x00, 0x01, 0x00, host};
    std::memcpy(p, mac, 6);
}
void serverMac(uint8_t* p, uint8_t host) {
    const uint8_t mac[6] = {0x02, 0x00, 0x00, 0x02, 0x00, host};
    std::memcpy(p, mac, 6);
}

// TCP, UDP or ICMP after an IP header; returns the header length and leaves
// the checksum 0 until the payload is in place.
size_t buildTransport(uint8_t protocol, uint16_t srcPort, uint16_t dstPort, uint8_t tcpFlags,
                      uint64_t noise, size_t segmentLength, uint8_t* l4) {
    if (protocol == 6) {
        put16(l4, srcPort);
        put16(l4 + 2, dstPort);
        put32(l4 + 4, static_cast<uint32_t>(noise));
        put32(l4 + 8, (tcpFlags & kAck) ? static_cast<uint32_t>(noise >> 32) : 0);
        l4[12] = 5 << 4;
        l4[13] = tcpFlags & 0x3F;
        put16(l4 + 14, (tcpFlags & kZeroWindow) ? 0 : 64240);
        put32(l4 + 16, 0);
        return 20;
    }
    if (protocol == 17) {
        put16(l4, srcPort);
        put16(l4 + 2, dstPort);
        put16(l4 + 4, static_cast<uint16_t>(segmentLength));
        put16(l4 + 6, 0);
        return 8;
    }
    // ICMP / ICMPv6 echo request.
    l4[0] = protocol == 58 ? 128 : 8;
    l4[1] = 0;
    put16(l4 + 2, 0);
    put16(l4 + 4, static_cast<uint16_t>(noise));
    put16(l4 + 6, static_cast<uint16_t>(noise >> 16));
    return 8;
}

void finishTransport(uint8_t protocol, uint32_t pseudoSum, uint8_t* l4, size_t segmentLength) {
    if (protocol == 1) {  // ICMP over IPv4 has no pseudo header
        put16(l4 + 2, foldChecksum(onesComplementSum(l4, segmentLength)));
        return;
    }
    const size_t checksumAt = protocol == 6 ? 16 : (protocol == 17 ? 6 : 2);
    uint16_t checksum = foldChecksum(onesComplementSum(l4, segmentLength, pseudoSum));
    if (protocol == 17 && checksum == 0) checksum = 0xFFFF;
    put16(l4 + checksumAt, checksum);
}

uint8_t protocolOf(int kind) {
    switch (kind) {
        case 0:  // Tcp4
        case 2:  // Tcp6
            return 6;
        case 1:
        case 3:
            return 17;
        case 4:
            return 1;
        case 5:
            return 58;
        default:
            return 0;
    }
}

}  // namespace

size_t FrameGenerator::buildIPv4(const Flow& flow, bool fromClient, size_t totalLength,
                                 uint8_t* out) {
    const uint8_t client = static_cast<uint8_t>(1 + random() % 200);
    const uint8_t server = static_cast<uint8_t>(1 + random() % 20);
    uint8_t clientIp[4] = {10, 1, 0, client}, serverIp[4] = {10, 2, 0, server};
    uint8_t dstIp[4], srcIp[4];
    std::memcpy(srcIp, fromClient ? clientIp : serverIp, 4);
    std::memcpy(dstIp, fromClient ? serverIp : clientIp, 4);
    (fromClient ? clientMac : serverMac)(out + 6, fromClient ? client : server);
    (fromClient ? serverMac : clientMac)(out, fromClient ? server : client);
    if (flow.kind == Kind::Igmp) {
        const uint8_t group[4] = {239, 1, 1, static_cast<uint8_t>(1 + random() % 8)};
        std::memcpy(dstIp, group, 4);
    } else if (flow.multicast) {
        const uint8_t mdns[4] = {224, 0, 0, 251};
        std::memcpy(dstIp, mdns, 4);
    } else if (flow.serverPort == 67) {  // DHCP discover: broadcast from 0.0.0.0
        std::memset(dstIp, 0xFF, 4);
        std::memset(srcIp, 0, 4);
    }
    if (dstIp[0] == 0xFF) {
        std::memset(out, 0xFF, 6);
    } else if (dstIp[0] >= 224) {
        const uint8_t mac[6] = {0x01,     0x00,    0x5E, static_cast<uint8_t>(dstIp[1] & 0x7F),
                                dstIp[2], dstIp[3]};
        std::memcpy(out, mac, 6);
    }
    put16(out + 12, 0x0800);

    const uint8_t protocol = flow.kind == Kind::Igmp ? 2 : protocolOf(static_cast<int>(flow.kind));
    const size_t ipLength = flow.kind == Kind::Igmp ? 28 : totalLength - 14;
    uint8_t* ip = out + 14;
    ip[0] = 0x45;
    ip[1] = 0;
    put16(ip + 2, static_cast<uint16_t>(ipLength));
    put16(ip + 4, static_cast<uint16_t>(random()));
    put16(ip + 6, 0x4000);
    ip[8] = flow.kind == Kind::Igmp ? 1 : 64;
    ip[9] = protocol;
    put16(ip + 10, 0);
    std::memcpy(ip + 12, srcIp, 4);
    std::memcpy(ip + 16, dstIp, 4);
    put16(ip + 10, foldChecksum(onesComplementSum(ip, 20)));

    uint8_t* l4 = ip + 20;
    if (flow.kind == Kind::Igmp) {  // IGMPv2 membership report, then Ethernet padding
        l4[0] = 0x16;
        l4[1] = 0;
        put16(l4 + 2, 0);
        std::memcpy(l4 + 4, dstIp, 4);
        put16(l4 + 2, foldChecksum(onesComplementSum(l4, 8)));
        std::memset(l4 + 8, 0, totalLength - 42);
        return totalLength;
    }
    const uint16_t clientPort =
        flow.serverPort == 67 ? 68 : static_cast<uint16_t>(49152 + random() % 16384);
    const size_t segment = ipLength - 20;
    const size_t header = buildTransport(protocol, fromClient ? clientPort : flow.serverPort,
                                         fromClient ? flow.serverPort : clientPort, flow.tcpFlags,
                                         random(), segment, l4);
    fillPayload(l4 + header, segment - header, flow.payloadText);
    uint32_t pseudo = onesComplementSum(ip + 12, 8);
    pseudo += protocol;
    pseudo += static_cast<uint32_t>(segment);
    finishTransport(protocol, pseudo, l4, segment);
    return totalLength;
}

size_t FrameGenerator::buildIPv6(const Flow& flow, bool fromClient, size_t totalLength,
                                 uint8_t* out) {
    const uint8_t client = static_cast<uint8_t>(1 + random() % 200);
    const uint8_t server = static_cast<uint8_t>(1 + random() % 20);
    (fromClient ? clientMac : serverMac)(out + 6, fromClient ? client : server);
    (fromClient ? serverMac : clientMac)(out, fromClient ? server : client);
    put16(out + 12, 0x86DD);
    uint8_t clientIp[16] = {0xFD, 0, 0, 1, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, client};
    uint8_t serverIp[16] = {0xFD, 0, 0, 2, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, server};
    const uint8_t protocol = protocolOf(static_cast<int>(flow.kind));
    uint8_t* ip = out + 14;
    const size_t segment = totalLength - 54;
    put32(ip, 0x60000000);
    put16(ip + 4, static_cast<uint16_t>(segment));
    ip[6] = protocol;
    ip[7] = 64;
    std::memcpy(ip + 8, fromClient ? clientIp : serverIp, 16);
    std::memcpy(ip + 24, fromClient ? serverIp : clientIp, 16);

    uint8_t* l4 = ip + 40;
    const uint16_t clientPort = static_cast<uint16_t>(49152 + random() % 16384);
    const size_t header = buildTransport(protocol, fromClient ? clientPort : flow.serverPort,
                                         fromClient ? flow.serverPort : clientPort, flow.tcpFlags,
                                         random(), segment, l4);
    fillPayload(l4 + header, segment - header, flow.payloadText);
    uint32_t pseudo = onesComplementSum(ip + 8, 32);
    pseudo += static_cast<uint32_t>(segment >> 16) + static_cast<uint32_t>(segment & 0xFFFF);
    pseudo += protocol;
    finishTransport(protocol, pseudo, l4, segment);
    return totalLength;
}

size_t FrameGenerator::buildHeaders(const Flow& flow, bool fromClient, size_t totalLength,
                                    uint8_t* out) {
    switch (flow.kind) {
        case Kind::Tcp4:
        case Kind::Udp4:
        case Kind::Icmp4:
        case Kind::Igmp:
            return buildIPv4(flow, fromClient, totalLength, out);
        case Kind::Tcp6:
        case Kind::Udp6:
        case Kind::Icmp6:
            return buildIPv6(flow, fromClient, totalLength, out);
        case Kind::Arp: {
            std::memset(out, 0xFF, 6);
            const uint8_t host = static_cast<uint8_t>(1 + random() % 200);
            (fromClient ? clientMac : serverMac)(out + 6, host);
            put16(out + 12, 0x0806);
            uint8_t* arp = out + 14;
            put16(arp, 1);
            put16(arp + 2, 0x0800);
            arp[4] = 6;
            arp[5] = 4;
            put16(arp + 6, 1);
            std::memcpy(arp + 8, out + 6, 6);
            const uint8_t sender[4] = {10, static_cast<uint8_t>(fromClient ? 1 : 2), 0, host};
            const uint8_t target[4] = {10, static_cast<uint8_t>(fromClient ? 2 : 1), 0, 1};
            std::memcpy(arp + 14, sender, 4);
            std::memset(arp + 18, 0, 6);
            std::memcpy(arp + 24, target, 4);
            std::memset(arp + 28, 0, totalLength - 42);
            return totalLength;
        }
        case Kind::Lldp: {
            const uint8_t lldpMac[6] = {0x01, 0x80, 0xC2, 0x00, 0x00, 0x0E};
            std::memcpy(out, lldpMac, 6);
            (fromClient ? clientMac : serverMac)(out + 6, 250);
            put16(out + 12, 0x88CC);
            fillPayload(out + 14, totalLength - 14, "\x02\x07\x04\x02\x00\x00\x01\x00\xFA");
            return totalLength;
        }
    }
    return totalLength;
}

const Frame& FrameGenerator::make(Port port, uint64_t timestampNs) {
    const double roll = static_cast<double>(random() % 1000000) / 10000.0;  // 0..100 percent
    uint8_t flags = 0;
    uint32_t wireLength = pickSize();
    const double collisions = halfDuplex_ ? profile_.collisionPercent : 0;
    if (roll < collisions) {
        flags = kCollision;
        wireLength = static_cast<uint32_t>(24 + random() % 40);  // fragment shorter than 64
    } else if (roll < collisions + profile_.jabberPercent) {
        flags = kJabber;
        wireLength = static_cast<uint32_t>(1519 + random() % (kMaxFrameLength - 1518));
    } else if (roll < collisions + profile_.jabberPercent + profile_.crcErrorPercent) {
        flags = kCrcError;
    }
    const Flow& flow = pickFlow();
    const bool fixedSize = (flow.kind == Kind::Igmp || flow.kind == Kind::Arp) && flags != kJabber;
    size_t data =
        fixedSize ? kMinimumData : std::max<size_t>(wireLength - 4, minimumData(flow.kind));
    if (flags != kCollision) wireLength = static_cast<uint32_t>(data + 4);
    buildHeaders(flow, port == Port::A, data, buffer_.data());
    uint32_t fcs = static_cast<uint32_t>(crc32(0L, buffer_.data(), static_cast<uInt>(data)));
    if (flags != 0) fcs ^= 0x5A5A5A5Au;
    if (flags == kCollision) data = wireLength - 4;  // only the start of the frame made it
    frame_.bytes = {buffer_.data(), data};
    frame_.fcs = fcs;
    frame_.hasFcs = true;
    frame_.wireLength = wireLength;
    frame_.port = port;
    frame_.flags = flags;
    frame_.timestampNs = timestampNs;
    return frame_;
}

}  // namespace nettlebeam::traffic
