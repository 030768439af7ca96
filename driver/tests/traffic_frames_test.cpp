// Generated frames are well-formed, and classification and the three
// hardware filters judge them as a device would.
#include <gtest/gtest.h>
#include <zlib.h>

#include <cstring>
#include <map>
#include <vector>

#include "traffic/classify.h"
#include "traffic/filters.h"
#include "traffic/frame_generator.h"
#include "traffic/generated_source.h"
#include "traffic_test_support.h"

namespace nettlebeam::traffic {
namespace {

using testing::putLe;

uint16_t be16(const uint8_t* p) {
    return static_cast<uint16_t>(p[0] << 8 | p[1]);
}

// Checks every checksum of an IPv4 or IPv6 frame built by the generator.
void expectChecksumsValid(const Frame& frame, const FrameInfo& info) {
    const uint8_t* p = frame.bytes.data();
    if (info.ipv4) {
        const uint8_t* ip = p + 14;
        ASSERT_EQ(foldChecksum(onesComplementSum(ip, 20)), 0) << "IPv4 header checksum";
        const size_t total = be16(ip + 2);
        ASSERT_LE(14 + total, frame.bytes.size());
        if (info.tcp || info.udp) {
            uint32_t sum =
                onesComplementSum(ip + 12, 8) + ip[9] + static_cast<uint32_t>(total - 20);
            EXPECT_EQ(foldChecksum(onesComplementSum(ip + 20, total - 20, sum)), 0)
                << "L4 checksum";
        }
        if (info.icmp) {
            EXPECT_EQ(foldChecksum(onesComplementSum(ip + 20, total - 20)), 0);
        }
    }
    if (info.ipv6 && (info.tcp || info.udp || info.icmp)) {
        const uint8_t* ip = p + 14;
        const size_t length = be16(ip + 4);
        uint32_t sum = onesComplementSum(ip + 8, 32) + ip[6] + static_cast<uint32_t>(length);
        EXPECT_EQ(foldChecksum(onesComplementSum(ip + 40, length, sum)), 0) << "IPv6 L4 checksum";
    }
}

TEST(FrameGenerator, BuildsValidFramesOfEveryKindInTheMix) {
    TrafficProfile profile =
        parseTrafficProfile("mix=64:1/1518:1/9000:1,crc=5,jabber=5,collision=5");
    FrameGenerator generator(profile, /*halfDuplex=*/true);
    std::map<uint64_t, int> classesSeen;
    int crcErrors = 0, jabbers = 0, collisions = 0, jumbo = 0;
    for (int i = 0; i < 5000; ++i) {
        const Frame& frame = generator.make(i % 2 ? Port::B : Port::A, 1000 + i);
        const uint32_t fcs = static_cast<uint32_t>(
            crc32(0L, frame.bytes.data(), static_cast<uInt>(frame.bytes.size())));
        if (frame.flags == kCollision) {
            ++collisions;
            EXPECT_LT(frame.wireLength, 64u);
            continue;
        }
        ASSERT_EQ(frame.wireLength, frame.bytes.size() + 4);
        EXPECT_GE(frame.wireLength, 64u);
        EXPECT_EQ(frame.crcValid(), fcs == frame.fcs) << "the FCS is wrong exactly on error frames";
        if (frame.flags == kCrcError) ++crcErrors;
        if (frame.flags == kJabber) {
            ++jabbers;
            EXPECT_GT(frame.wireLength, 1518u);
        }
        if (frame.wireLength > 1518 && frame.flags == 0) ++jumbo;
        const FrameInfo info = classify(frame);
        for (int bit = 0; bit < 64; ++bit)
            if (info.classes & (uint64_t{1} << bit)) ++classesSeen[bit];
        expectChecksumsValid(frame, info);
    }
    EXPECT_GT(crcErrors, 100);
    EXPECT_GT(jabbers, 100);
    EXPECT_GT(collisions, 100);
    EXPECT_GT(jumbo, 100);
    for (PacketClass c : {PacketClass::IPv4,       PacketClass::IPv6,          PacketClass::Arp,
                          PacketClass::Tcp,        PacketClass::Udp,           PacketClass::Icmp,
                          PacketClass::Igmp,       PacketClass::Https,         PacketClass::Http,
                          PacketClass::Ftp,        PacketClass::Dns,           PacketClass::Smtp,
                          PacketClass::Pop3,       PacketClass::Dhcp,          PacketClass::Ssh,
                          PacketClass::Sip,        PacketClass::Smb,           PacketClass::TcpFin,
                          PacketClass::TcpSyn,     PacketClass::TcpRst,        PacketClass::TcpPush,
                          PacketClass::TcpAck,     PacketClass::TcpZeroWindow, PacketClass::Quic,
                          PacketClass::OtherLayer2})
        EXPECT_GT(classesSeen[static_cast<int>(c)], 0) << "class " << static_cast<int>(c);
}

TEST(FrameGenerator, ThePortsCarryIndependentTraffic) {
    GeneratedSource source(parseTrafficProfile("rate=1000,mix=mixed"), {});
    source.begin(0);
    std::vector<uint32_t> sizes[2];
    for (uint64_t now = 0; sizes[0].size() < 300 || sizes[1].size() < 300; now += 1'000'000)
        while (const Frame* f = source.next(now))
            sizes[static_cast<size_t>(f->port)].push_back(f->wireLength);
    // Port B's frames must not be port A's, shifted by a few frames.
    for (size_t shift = 0; shift < 4; ++shift) {
        size_t same = 0;
        for (size_t i = 0; i + shift < 250; ++i) same += sizes[0][i + shift] == sizes[1][i];
        EXPECT_LT(same, 150u) << "shift " << shift;
    }
}

TEST(FrameGenerator, FullDuplexPortsHaveNoCollisions) {
    FrameGenerator generator(parseTrafficProfile("collision=50"), /*halfDuplex=*/false);
    for (int i = 0; i < 2000; ++i) EXPECT_EQ(generator.make(Port::A, i).flags & kCollision, 0);
}

TEST(GeneratedSource, FollowsTheNegotiatedLine) {
    // Half the line rate with 64-byte frames: 744047 frames/s on a gigabit
    // line, a tenth of that once the link comes up at 100 Mbit/s.
    GeneratedSource source(parseTrafficProfile("rate=50%,mix=small,collision=20,ports=A"),
                           {{{1000, false}, {1000, false}}});
    EXPECT_EQ(source.intervalNs(Port::A), 1344u);
    EXPECT_EQ(source.intervalNs(Port::B), 0u);
    source.setLine(Port::A, {100, true});
    EXPECT_EQ(source.intervalNs(Port::A), 13440u);
    // The half-duplex copper line now has collisions.
    source.begin(0);
    int collisions = 0;
    for (uint64_t now = 0; now < 20'000'000; now += 1'000'000)
        while (const Frame* f = source.next(now)) collisions += (f->flags & kCollision) != 0;
    EXPECT_GT(collisions, 100);
    // An absolute rate beyond what the wire carries is held to the line rate.
    GeneratedSource fast(parseTrafficProfile("rate=1M,mix=large"), {{{100, false}, {100, false}}});
    EXPECT_EQ(fast.intervalNs(Port::A), 123040u);  // (1518 + 20) * 8 bits at 100 Mbit/s
}

// A frame assembled from raw bytes, for exact classification cases.
struct RawFrame {
    std::vector<uint8_t> bytes;
    Frame frame() const {
        Frame f;
        f.bytes = bytes;
        f.wireLength = static_cast<uint32_t>(bytes.size() + 4);
        return f;
    }
};

RawFrame udp4(std::array<uint8_t, 6> dstMac, std::array<uint8_t, 6> srcMac,
              std::array<uint8_t, 4> srcIp, std::array<uint8_t, 4> dstIp, uint16_t srcPort,
              uint16_t dstPort, const std::string& payload = "") {
    RawFrame r;
    r.bytes.assign(14 + 20 + 8 + std::max<size_t>(payload.size(), 18), 0);
    uint8_t* p = r.bytes.data();
    std::memcpy(p, dstMac.data(), 6);
    std::memcpy(p + 6, srcMac.data(), 6);
    p[12] = 0x08;
    p[14] = 0x45;
    p[16] = static_cast<uint8_t>((r.bytes.size() - 14) >> 8);
    p[17] = static_cast<uint8_t>(r.bytes.size() - 14);
    p[23] = 17;
    std::memcpy(p + 26, srcIp.data(), 4);
    std::memcpy(p + 30, dstIp.data(), 4);
    p[34] = static_cast<uint8_t>(srcPort >> 8), p[35] = static_cast<uint8_t>(srcPort);
    p[36] = static_cast<uint8_t>(dstPort >> 8), p[37] = static_cast<uint8_t>(dstPort);
    std::memcpy(p + 42, payload.data(), payload.size());
    return r;
}

constexpr std::array<uint8_t, 6> kMacA{0x02, 0x11, 0x22, 0x33, 0x44, 0x55};
constexpr std::array<uint8_t, 6> kMacB{0x02, 0xAA, 0xBB, 0xCC, 0xDD, 0xEE};

TEST(Classify, ReadsAddressesPortsAndCastThroughVlanTags) {
    RawFrame r = udp4(kMacA, kMacB, {10, 0, 0, 1}, {10, 0, 0, 2}, 5353, 53);
    // Insert an 802.1Q tag before the EtherType.
    r.bytes.insert(r.bytes.begin() + 12, {0x81, 0x00, 0x00, 0x05});
    const FrameInfo info = classify(r.frame());
    EXPECT_TRUE(info.ipv4 && info.udp && info.unicast && !info.multicast && !info.broadcast);
    EXPECT_TRUE(info.is(PacketClass::Dns));
    EXPECT_EQ(info.srcPort, 5353);
    EXPECT_EQ(info.dstPort, 53);
    EXPECT_EQ(info.dstIp[3], 2);
    EXPECT_EQ(info.payloadOffset, 18u + 20 + 8);

    RawFrame broadcast = udp4({0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}, kMacA, {0, 0, 0, 0},
                              {255, 255, 255, 255}, 68, 67);
    const FrameInfo b = classify(broadcast.frame());
    EXPECT_TRUE(b.broadcast && !b.multicast && !b.unicast && b.is(PacketClass::Dhcp));

    RawFrame truncated = udp4(kMacA, kMacB, {10, 0, 0, 1}, {10, 0, 0, 2}, 1, 2);
    truncated.bytes.resize(30);  // IP header cut short
    const FrameInfo t = classify(truncated.frame());
    EXPECT_TRUE(t.ipv4);
    EXPECT_FALSE(t.udp);
    EXPECT_LE(t.payloadOffset, 30u);
}

std::vector<uint8_t> packetTypeBlock(std::initializer_list<PacketClass> cleared) {
    uint64_t word = ~uint64_t{0};
    for (PacketClass c : cleared) word &= ~classBit(c);
    std::vector<uint8_t> block(8);
    putLe(block, 0, word, 8);
    return block;
}

TEST(PacketTypeFilter, AFramePassesOnlyWhenAllItsClassesAreSelected) {
    const RawFrame dns = udp4(kMacA, kMacB, {10, 0, 0, 1}, {10, 0, 0, 2}, 40000, 53);
    const RawFrame other = udp4(kMacA, kMacB, {10, 0, 0, 1}, {10, 0, 0, 2}, 40000, 9999);
    auto passes = [](std::initializer_list<PacketClass> cleared, const RawFrame& r) {
        const auto filter = PacketTypeFilter::fromBlock(packetTypeBlock(cleared));
        return filter->passes(classify(r.frame()));
    };
    EXPECT_TRUE(passes({}, dns));
    EXPECT_FALSE(passes({PacketClass::Dns}, dns));
    EXPECT_TRUE(passes({PacketClass::Dns}, other)) << "clearing DNS leaves other UDP alone";
    EXPECT_FALSE(passes({PacketClass::Udp}, other));
    EXPECT_TRUE(passes({PacketClass::Tcp, PacketClass::Arp}, other));

    RawFrame lldp = other;
    lldp.bytes[12] = 0x88, lldp.bytes[13] = 0xCC;
    EXPECT_FALSE(passes({PacketClass::OtherLayer2}, lldp));
    EXPECT_TRUE(passes({PacketClass::OtherLayer2}, other));

    RawFrame gre = other;
    gre.bytes[23] = 47;  // an IP protocol without a class of its own
    EXPECT_FALSE(passes({PacketClass::OtherLayer4}, gre));
    EXPECT_TRUE(passes({PacketClass::OtherLayer4}, other));

    EXPECT_FALSE(PacketTypeFilter::fromBlock(std::vector<uint8_t>(7)).has_value());
}

// Packet filter block offsets.
constexpr size_t kDstMac = 8, kSrcMac = 14, kDstIp = 20, kSrcIp = 36, kDstPort = 52, kSrcPort = 54;

struct PacketFilterBlock {
    std::vector<uint8_t> bytes = std::vector<uint8_t>(248, 0);
    uint64_t care = 0;
    uint16_t either = 0;
    uint32_t flags = 0;
    PacketFilterBlock() {
        putLe(bytes, 0, 1, 4);
        putLe(bytes, 4, 1, 4);
    }
    // Stores a field last byte first and marks all its bytes significant.
    template <size_t N>
    void field(size_t offset, const std::array<uint8_t, N>& networkOrder, uint32_t flag) {
        for (size_t i = 0; i < N; ++i) {
            bytes[offset + i] = networkOrder[N - 1 - i];
            care |= uint64_t{1} << (offset - 8 + i);
        }
        flags |= flag;
    }
    void port(size_t offset, uint16_t value, uint32_t flag) {
        putLe(bytes, offset, value, 2);
        care |= uint64_t{3} << (offset - 8);
        flags |= flag;
    }
    PacketFilter build() {
        putLe(bytes, 56, care, 6);
        putLe(bytes, 62, either, 2);
        putLe(bytes, 64, flags, 4);
        return *PacketFilter::fromBlock(bytes);
    }
};

TEST(PacketFilter, MatchesUsedFieldsWithWildcardsAndEitherDirection) {
    const RawFrame aToB = udp4(kMacB, kMacA, {10, 0, 0, 1}, {192, 168, 7, 9}, 40000, 443);
    const RawFrame bToA = udp4(kMacA, kMacB, {192, 168, 7, 9}, {10, 0, 0, 1}, 443, 40000);
    auto passes = [](PacketFilter f, const RawFrame& r) { return f.passes(classify(r.frame())); };

    PacketFilterBlock dstMac;
    dstMac.field<6>(kDstMac, kMacB, 1u << 1);
    EXPECT_TRUE(passes(dstMac.build(), aToB));
    EXPECT_FALSE(passes(dstMac.build(), bToA));
    dstMac.either = 1;
    EXPECT_TRUE(passes(dstMac.build(), bToA)) << "either direction takes the source MAC too";

    PacketFilterBlock subnet;
    subnet.field<4>(kDstIp, {192, 168, 0, 0}, 1u << 3);
    subnet.care &= ~(uint64_t{3} << (kDstIp - 8));  // last two address bytes are wildcards
    EXPECT_TRUE(passes(subnet.build(), aToB));
    EXPECT_FALSE(passes(subnet.build(), bToA));
    subnet.either = 2;
    EXPECT_TRUE(passes(subnet.build(), bToA));

    PacketFilterBlock ports;
    ports.port(kDstPort, 443, 1u << 5);
    ports.port(kSrcPort, 40000, 1u << 6);
    EXPECT_TRUE(passes(ports.build(), aToB));
    EXPECT_FALSE(passes(ports.build(), bToA));
    ports.either = 4;
    EXPECT_TRUE(passes(ports.build(), bToA));

    PacketFilterBlock ipv6Wanted;
    ipv6Wanted.field<4>(kSrcIp, {10, 0, 0, 1}, (1u << 4) | 1u);
    EXPECT_FALSE(passes(ipv6Wanted.build(), aToB)) << "an IPv6 filter never matches IPv4";

    PacketFilterBlock unused;  // enabled, nothing used: everything passes
    EXPECT_TRUE(passes(unused.build(), aToB));

    PacketFilterBlock disabled;
    disabled.field<6>(kSrcMac, {9, 9, 9, 9, 9, 9}, 1u << 2);
    putLe(disabled.bytes, 4, 0, 4);
    FilterSet set;
    set.packet = disabled.build();
    EXPECT_FALSE(set.packet.enabled());
    EXPECT_TRUE(set.passes(aToB.frame(), classify(aToB.frame())));
}

DpiFilter dpiFilter(const std::string& pattern, uint32_t mask, bool enabled = true) {
    std::vector<uint8_t> block(224, 0);
    std::memcpy(block.data(), pattern.data(), std::min<size_t>(pattern.size(), 32));
    putLe(block, 32, mask, 4);
    putLe(block, 216, 1, 4);
    putLe(block, 220, enabled ? 1 : 0, 4);
    return *DpiFilter::fromBlock(block);
}

TEST(DpiFilter, FindsThePatternAnywhereInThePayloadWithWildcards) {
    const RawFrame http =
        udp4(kMacA, kMacB, {1, 1, 1, 1}, {2, 2, 2, 2}, 1, 80, "xxGET /index.html HTTP/1.1");
    auto passes = [&](const DpiFilter& f) {
        return f.passes(http.frame(), classify(http.frame()));
    };
    EXPECT_TRUE(passes(dpiFilter("GET /index.html ", 0xFFFF)));
    EXPECT_TRUE(passes(dpiFilter("G?T /?ndex", 0x3FF & ~0x2 & ~0x20))) << "wildcard bytes";
    EXPECT_FALSE(passes(dpiFilter("GET /other.html ", 0xFFFF)));
    EXPECT_TRUE(passes(dpiFilter("", 0))) << "no significant byte matches everything";
    EXPECT_FALSE(passes(dpiFilter("HTTP/1.1 and more", 0x1FFFF))) << "runs past the payload";
    // The IP header's bytes are not payload.
    EXPECT_FALSE(passes(dpiFilter("\x01\x01\x01\x01", 0xF)));
    EXPECT_FALSE(dpiFilter("GET", 0x7, /*enabled=*/false).enabled());
}

}  // namespace
}  // namespace nettlebeam::traffic
