// Hardware counters judged frame by frame from their device definitions,
// and the traffic option's syntax.
#include <gtest/gtest.h>

#include <cstring>
#include <stdexcept>
#include <vector>

#include "traffic/classify.h"
#include "traffic/counters.h"
#include "traffic/frame_generator.h"
#include "traffic/traffic_profile.h"

namespace nettlebeam::traffic {
namespace {

// A counter definition laid out byte by byte as the device stores it.
struct CounterBlock {
    std::vector<uint8_t> bytes = std::vector<uint8_t>(30, 0);
    explicit CounterBlock(uint8_t index, bool portA = true, bool portB = true,
                          bool countBytes = false) {
        bytes[0] = index;
        bytes[1] = static_cast<uint8_t>(countBytes | portA << 1 | portB << 2);
    }
    // value byte/bit, tested byte/bit
    CounterBlock& condition(int valueByte, int valueBit, int testedByte, int testedBit,
                            bool value) {
        if (value) bytes[valueByte] |= static_cast<uint8_t>(1 << valueBit);
        bytes[testedByte] |= static_cast<uint8_t>(1 << testedBit);
        return *this;
    }
    CounterBlock& udp(bool v) { return condition(4, 1, 22, 3, v); }
    CounterBlock& tcp(bool v) { return condition(4, 0, 22, 2, v); }
    CounterBlock& ipv6(bool v) { return condition(4, 6, 23, 0, v); }
    CounterBlock& broadcast(bool v) { return condition(4, 5, 22, 7, v); }
    CounterBlock& crcValid(bool v) { return condition(5, 7, 24, 1, v); }
    CounterBlock& dropped(bool v) { return condition(5, 6, 24, 0, v); }
    CounterBlock& size(uint16_t s, uint8_t code) {
        bytes[2] = static_cast<uint8_t>(s), bytes[3] = static_cast<uint8_t>(s >> 8);
        bytes[22] = static_cast<uint8_t>((bytes[22] & ~3) | code);
        return *this;
    }
    // Pattern byte i (stored order) compared.
    CounterBlock& ipByte(size_t i, uint8_t value) {
        bytes[6 + i] = value;
        const size_t bit = i + 2;
        bytes[24 + bit / 8] |= static_cast<uint8_t>(1 << (bit % 8));
        return *this;
    }
};

struct TestFrame {
    std::vector<uint8_t> bytes;
    Frame frame;
    FrameInfo info;
};

TestFrame ipv4Frame(uint8_t protocol, std::array<uint8_t, 4> src, std::array<uint8_t, 4> dst,
                    size_t length, Port port = Port::A, bool broadcastMac = false) {
    TestFrame t;
    t.bytes.assign(length - 4, 0);
    uint8_t* p = t.bytes.data();
    p[0] = 0x02;
    if (broadcastMac) std::memset(p, 0xFF, 6);
    p[12] = 0x08;
    p[14] = 0x45;
    p[23] = protocol;
    std::memcpy(p + 26, src.data(), 4);
    std::memcpy(p + 30, dst.data(), 4);
    t.frame.bytes = t.bytes;
    t.frame.wireLength = static_cast<uint32_t>(length);
    t.frame.port = port;
    t.info = classify(t.frame);
    return t;
}

TEST(ProgrammableCounter, TriStateConditionsPortsAndModes) {
    CounterBank bank;
    ASSERT_TRUE(bank.program(CounterBlock(0, true, false).udp(true).bytes));  // UDP on port A
    ASSERT_TRUE(bank.program(CounterBlock(1, true, true).udp(false).bytes));  // not UDP, both
    ASSERT_TRUE(bank.program(CounterBlock(2, false, true, true).bytes));      // bytes on port B
    ASSERT_TRUE(bank.program(CounterBlock(3).crcValid(false).bytes));         // bad CRC
    ASSERT_TRUE(bank.program(CounterBlock(4).dropped(true).bytes));
    ASSERT_TRUE(bank.program(CounterBlock(5).broadcast(true).tcp(false).bytes));
    ASSERT_TRUE(bank.program(CounterBlock(6, false, false).bytes));  // no port: counts nothing

    TestFrame udpA = ipv4Frame(17, {10, 0, 0, 1}, {10, 0, 0, 2}, 100, Port::A);
    TestFrame udpB = ipv4Frame(17, {10, 0, 0, 1}, {10, 0, 0, 2}, 200, Port::B);
    TestFrame tcpB = ipv4Frame(6, {10, 0, 0, 1}, {10, 0, 0, 2}, 300, Port::B, /*broadcast=*/true);
    tcpB.frame.flags = kCrcError;
    for (TestFrame* t : {&udpA, &udpB, &tcpB}) {
        const Delivery d = t == &tcpB ? Delivery::DroppedByDevice : Delivery::Delivered;
        bank.count(t->frame, t->info, d);
    }
    EXPECT_EQ(bank.value(0), 1u);
    EXPECT_EQ(bank.value(1), 1u);
    EXPECT_EQ(bank.value(2), 500u);
    EXPECT_EQ(bank.value(3), 1u);
    EXPECT_EQ(bank.value(4), 1u);
    EXPECT_EQ(bank.value(5), 0u) << "the broadcast frame is TCP";
    EXPECT_EQ(bank.value(6), 0u);
    EXPECT_EQ(bank.value(7), 0u) << "an unprogrammed counter counts nothing";

    const auto reply = bank.reply();
    ASSERT_EQ(reply.size(), 128u);
    EXPECT_EQ(reply[16], 500 & 0xFF);
    EXPECT_EQ(reply[17], 500 >> 8);

    // Reprogramming restarts the counter; the definition reads back as written.
    const auto definition = CounterBlock(2, false, true, true).tcp(true).bytes;
    ASSERT_TRUE(bank.program(definition));
    bank.count(udpB.frame, udpB.info, Delivery::Delivered);
    EXPECT_EQ(bank.value(2), 0u);
    bank.count(tcpB.frame, tcpB.info, Delivery::Delivered);
    EXPECT_EQ(bank.value(2), 300u);
    const auto stored = bank.definition(2);
    EXPECT_TRUE(std::equal(stored.begin(), stored.end(), definition.begin()));
}

TEST(ProgrammableCounter, SizeComparisonsUseTheWireLength) {
    TestFrame t = ipv4Frame(17, {1, 2, 3, 4}, {5, 6, 7, 8}, 128);
    auto matches = [&](uint16_t size, uint8_t code) {
        const auto c = ProgrammableCounter::fromBlock(CounterBlock(0).size(size, code).bytes);
        return c->matches(t.frame, t.info, conditionBits(t.frame, t.info, Delivery::Delivered));
    };
    EXPECT_TRUE(matches(100, 2));  // greater than
    EXPECT_FALSE(matches(128, 2));
    EXPECT_TRUE(matches(129, 1));  // less than
    EXPECT_FALSE(matches(128, 1));
    EXPECT_TRUE(matches(128, 3));  // equal
    EXPECT_FALSE(matches(127, 3));
    EXPECT_TRUE(matches(9999, 0)) << "code 0 does not test the size";
}

TEST(ProgrammableCounter, IpPatternIsStoredLastByteFirstWithWildcards) {
    TestFrame t = ipv4Frame(6, {192, 168, 1, 20}, {10, 9, 8, 7}, 64);
    auto matches = [&](const CounterBlock& b) {
        const auto c = ProgrammableCounter::fromBlock(b.bytes);
        return c->matches(t.frame, t.info, conditionBits(t.frame, t.info, Delivery::Delivered));
    };
    // 192.168.x.20: stored as 20, x, 168, 192 with byte 1 a wildcard.
    EXPECT_TRUE(matches(CounterBlock(0).ipByte(0, 20).ipByte(2, 168).ipByte(3, 192)));
    EXPECT_FALSE(matches(CounterBlock(0).ipByte(0, 21).ipByte(2, 168).ipByte(3, 192)));
    // Network order would be the wrong order.
    EXPECT_FALSE(matches(CounterBlock(0).ipByte(0, 192).ipByte(1, 168)));
    // The destination address matches too.
    EXPECT_TRUE(matches(CounterBlock(0).ipByte(0, 7).ipByte(3, 10)));
    // Bytes beyond an IPv4 address are zero.
    EXPECT_FALSE(matches(CounterBlock(0).ipByte(0, 20).ipByte(15, 1)));

    TestFrame arp;
    arp.bytes.assign(60, 0);
    arp.bytes[12] = 0x08, arp.bytes[13] = 0x06;
    arp.frame.bytes = arp.bytes;
    arp.frame.wireLength = 64;
    arp.info = classify(arp.frame);
    const auto c = ProgrammableCounter::fromBlock(CounterBlock(0).ipByte(0, 0).bytes);
    EXPECT_FALSE(
        c->matches(arp.frame, arp.info, conditionBits(arp.frame, arp.info, Delivery::Delivered)))
        << "a frame without IP never matches an address pattern";

    EXPECT_FALSE(ProgrammableCounter::fromBlock(CounterBlock(16).bytes).has_value());
    EXPECT_FALSE(ProgrammableCounter::fromBlock(std::vector<uint8_t>(29, 0)).has_value());
}

TEST(PortCounters, SizeClassesErrorsAndDrops) {
    PortCounters counters;
    TestFrame small = ipv4Frame(17, {}, {}, 64);
    TestFrame large = ipv4Frame(17, {}, {}, 1518);
    TestFrame jumbo = ipv4Frame(17, {}, {}, 1519);
    counters.count(small.frame, Delivery::Delivered);
    counters.count(large.frame, Delivery::Delivered);
    counters.count(jumbo.frame, Delivery::Delivered);
    Frame fragment = small.frame;
    fragment.wireLength = 40;
    fragment.flags = kCollision;
    counters.count(fragment, Delivery::DroppedByDevice);
    Frame bad = large.frame;
    bad.flags = kCrcError;
    counters.count(bad, Delivery::DroppedByDevice);
    EXPECT_EQ(counters.lessThan64.load(), 0u) << "a collision fragment is not a valid short frame";
    EXPECT_EQ(counters.from64To1518.load(), 2u);
    EXPECT_EQ(counters.moreThan1518.load(), 1u);
    EXPECT_EQ(counters.collisions.load(), 1u);
    EXPECT_EQ(counters.crcErrors.load(), 1u);
    EXPECT_EQ(counters.hwDropped.load(), 2u);
    EXPECT_EQ(counters.bytes.load(), 64u + 1518 + 1519 + 40 + 1518);
}

TEST(TrafficProfile, ParsesRatesMixesAndRejectsNonsense) {
    const TrafficProfile profile =
        parseTrafficProfile("rate=20k,mix=64:3/1518:1,crc=0.5,ports=B,seed=7");
    EXPECT_DOUBLE_EQ(profile.framesPerSecond, 20000);
    ASSERT_EQ(profile.mix.size(), 2u);
    EXPECT_EQ(profile.mix[1].size, 1518u);
    EXPECT_DOUBLE_EQ(profile.crcErrorPercent, 0.5);
    EXPECT_FALSE(profile.portA);
    EXPECT_TRUE(profile.portB);
    EXPECT_EQ(profile.seed, 7u);

    // 64-byte frames at line rate: 1 Gbit/s / ((64 + 20) * 8) = 1488095 frames/s.
    const TrafficProfile line = parseTrafficProfile("rate=line,mix=small");
    EXPECT_NEAR(line.rateAt(1000), 1488095, 1);
    EXPECT_NEAR(parseTrafficProfile("rate=50%,mix=small").rateAt(100), 74404.8, 0.1);
    EXPECT_DOUBLE_EQ(parseTrafficProfile("rate=2M").rateAt(10000), 2e6)
        << "a fixed rate below the line rate is kept";
    EXPECT_DOUBLE_EQ(parseTrafficProfile("rate=2M").rateAt(10),
                     parseTrafficProfile("rate=line").rateAt(10))
        << "no wire carries more than its line rate";
    EXPECT_EQ(parseTrafficProfile("").mix.size(), 3u) << "imix by default";

    for (const char* bad : {"rate=fast", "rate=-5", "mix=63:1", "mix=64:0", "mix=64", "crc=101",
                            "ports=C", "colour=red", "rate", "crc=60,jabber=60", "mix=9023:1"})
        EXPECT_THROW(parseTrafficProfile(bad), std::invalid_argument) << bad;
}

}  // namespace
}  // namespace nettlebeam::traffic
