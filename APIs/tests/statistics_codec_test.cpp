#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <limits>

#include "byte_order.h"
#include "codec/statistics.h"

namespace nettlebeam::codec {
namespace {

struct Format1Reply {
    std::array<uint8_t, kStatisticsFormat1Size> bytes{};
    Format1Reply() { set(19, kFormat1Signature); }
    void set(size_t word, uint64_t value) { wire::writeLe64(bytes, 8 * word, value); }
    // Group 0 or 1: bytes, <64, 64..1518, >1518, crc, jabbers, collisions, drops.
    void group(size_t g, uint64_t base) {
        for (size_t i = 0; i < 8; ++i) set(8 * g + i, base + i);
    }
};

TEST(StatisticsFormat1, GroupsGoToPortsByCapability) {
    Format1Reply reply;
    reply.group(0, 100);
    reply.group(1, 200);
    reply.set(18, 4000);

    NettlebeamApiStatistics plain{};
    ASSERT_EQ(decodeStatisticsFormat1(reply.bytes, std::nullopt, plain), 0);
    EXPECT_EQ(plain.version, 1);
    EXPECT_EQ(plain.data.v1.portB.totalBytes, 100u);
    EXPECT_EQ(plain.data.v1.portA.totalBytes, 200u);
    EXPECT_EQ(plain.data.v1.portA.speedWeightedCount, 100u);  // factor 1

    NettlebeamApiStatistics scaled{};
    ASSERT_EQ(decodeStatisticsFormat1(reply.bytes, uint8_t{0x20}, scaled), 0);
    EXPECT_EQ(scaled.data.v1.portA.totalBytes, 100u);
    EXPECT_EQ(scaled.data.v1.portB.totalBytes, 200u);
    EXPECT_EQ(scaled.data.v1.portA.speedWeightedCount, 10000u);  // 1000 Mbit/s: 100
    EXPECT_EQ(scaled.data.v1.portB.speedWeightedCount, 1000u);   // 100 Mbit/s: 10
}

TEST(StatisticsFormat1, CountersAndSumsComeFromTheirWords) {
    Format1Reply reply;
    reply.group(0,
                10);  // bytes 10, <64 11, mid 12, >1518 13, crc 14, jabbers 15, coll 16, drops 17
    NettlebeamApiStatistics stats{};
    ASSERT_EQ(decodeStatisticsFormat1(reply.bytes, uint8_t{0}, stats), 0);
    const auto& a = stats.data.v1.portA;
    EXPECT_EQ(a.totalBytes, 10u);
    EXPECT_EQ(a.lessThan64, 11u);
    EXPECT_EQ(a.from64To1518, 12u);
    EXPECT_EQ(a.moreThan1518, 13u);
    EXPECT_EQ(a.crcErrors, 14u);
    EXPECT_EQ(a.jabbers, 15u);
    EXPECT_EQ(a.collisions, 16u);
    EXPECT_EQ(a.hwDropped, 17u);
    EXPECT_EQ(a.totalValidPackets, 36u);
    EXPECT_EQ(a.totalInvalidPackets, 45u);
}

TEST(StatisticsFormat1, LinkTimesAreWholeMilliseconds) {
    Format1Reply reply;
    reply.set(16, 49999);
    reply.set(17, 50000 * 7 + 3);
    NettlebeamApiStatistics stats{};
    ASSERT_EQ(decodeStatisticsFormat1(reply.bytes, std::nullopt, stats), 0);
    EXPECT_EQ(stats.data.v1.linkUpTime, 0u);
    EXPECT_EQ(stats.data.v1.linkDownTime, 7u);
}

TEST(StatisticsFormat1, BadSignatureOrShortReplyChangesOnlyTheVersion) {
    Format1Reply reply;
    reply.group(0, 5);
    reply.set(19, 0x0D0C0B0A03020101ull);
    NettlebeamApiStatistics stats{};
    stats.data.v1.portA.totalBytes = 77;
    EXPECT_EQ(decodeStatisticsFormat1(reply.bytes, std::nullopt, stats), -1);
    EXPECT_EQ(stats.version, 1);
    EXPECT_EQ(stats.data.v1.portA.totalBytes, 77u);

    Format1Reply good;
    EXPECT_EQ(decodeStatisticsFormat1(std::span(good.bytes).first(159), std::nullopt, stats), -1);
}

TEST(SpeedWeightedCount, KeepsFullPrecisionAndSaturates) {
    // Single precision would lose the low digits of large device times.
    const uint64_t time = 123456789012345ull;
    EXPECT_EQ(speedWeightedCount(time, 1), 3086419725308ull);
    EXPECT_EQ(speedWeightedCount(40, 1), 1u);
    EXPECT_EQ(speedWeightedCount(39, 1), 0u);
    // Above 2^63 the top bit must survive; above 2^64 the value saturates.
    EXPECT_EQ(speedWeightedCount(1ull << 62, 100), 5ull << 61);
    EXPECT_EQ(speedWeightedCount(std::numeric_limits<uint64_t>::max(), 100),
              std::numeric_limits<uint64_t>::max());
    EXPECT_EQ(speedFactor(0), 100u);
    EXPECT_EQ(speedFactor(1), 1u);
    EXPECT_EQ(speedFactor(2), 10u);
    EXPECT_EQ(speedFactor(3), 1u);
}

TEST(StatisticsFormat2, CountersHostDropsAndTrailer) {
    std::array<uint8_t, kStatisticsFormat2Size> reply{};
    for (size_t i = 0; i < 16; ++i) wire::writeLe64(reply, 8 * i, 1000 + i);
    NettlebeamApiStatistics stats{};
    ASSERT_TRUE(decodeStatisticsFormat2(reply, stats));
    EXPECT_EQ(stats.version, 2);
    EXPECT_EQ(stats.data.v2.counters[0], 1000u);
    EXPECT_EQ(stats.data.v2.counters[15], 1015u);
    EXPECT_FALSE(decodeStatisticsFormat2(std::span(reply).first(127), stats));

    std::array<uint8_t, 16> trailer{};
    for (size_t i = 0; i < trailer.size(); ++i) trailer[i] = static_cast<uint8_t>(0xA0 + i);
    ASSERT_TRUE(storeStatisticsTrailer(trailer, stats));
    EXPECT_EQ(std::memcmp(reinterpret_cast<uint8_t*>(&stats) + 152, trailer.data(), 16), 0);
    stats.version = 1;
    ASSERT_TRUE(storeStatisticsTrailer(trailer, stats));
    EXPECT_EQ(std::memcmp(reinterpret_cast<uint8_t*>(&stats) + 216, trailer.data(), 16), 0);
    stats.version = 0;
    EXPECT_FALSE(storeStatisticsTrailer(trailer, stats));
    EXPECT_FALSE(storeStatisticsTrailer(std::span(trailer).first(15), stats));

    const std::array<uint8_t, 8> dropped{1, 2, 0, 0, 0, 0, 0, 0x80};
    EXPECT_EQ(decodeHostDropped(dropped), 0x8000000000000201ull);
    EXPECT_FALSE(decodeHostDropped(std::span(dropped).first(7)).has_value());
}

NettlebeamApiCounterV2 untestedCounter() {
    NettlebeamApiCounterV2 c{};
    for (int32_t* f : {&c.isIPv4, &c.isIPv6, &c.isbcast, &c.ismcast, &c.isucast, &c.isicmp,
                       &c.isudp, &c.istcp, &c.iscrcValid, &c.isDropped}) {
        *f = -1;
    }
    c.sizeMode = -1;
    return c;
}

TEST(CounterBlock, UntestedCounterIsZeroBeyondItsHeader) {
    NettlebeamApiCounterV2 c = untestedCounter();
    c.index = 9;
    c.mode = 1;
    c.port2 = 1;
    c.port1 = 2;  // only exactly 1 counts
    c.size = 0x12345;
    std::memset(c.ip, 0xAB, sizeof c.ip);
    const auto block = encodeCounterBlock(c);
    EXPECT_EQ(block[0], 9);
    EXPECT_EQ(block[1], 0x05);
    EXPECT_EQ(block[2], 0x45);
    EXPECT_EQ(block[3], 0x23);
    for (size_t i = 4; i < block.size(); ++i) EXPECT_EQ(block[i], 0) << "byte " << i;
}

TEST(CounterBlock, ConditionBitsAndPatternMask) {
    NettlebeamApiCounterV2 c = untestedCounter();
    c.isIPv4 = 1;
    c.isIPv6 = 0;
    c.istcp = 1;
    c.isDropped = 0;
    c.iscrcValid = 1;
    c.ip[0] = 0x11;
    c.ipMask[0] = 0xFF;
    c.ip[6] = 0x66;
    c.ipMask[6] = 1;
    c.ip[15] = 0xFF;
    c.ipMask[15] = 0xFF;
    c.ip[3] = 0x33;  // not enabled: must not be sent
    const auto block = encodeCounterBlock(c);
    EXPECT_EQ(block[4], 0x81);          // IPv4 and TCP values
    EXPECT_EQ(block[5], 0x80);          // CRC valid value
    EXPECT_EQ(block[22], 0x04);         // TCP tested, no size comparison
    EXPECT_EQ(block[23], 0x03);         // IPv4 and IPv6 tested
    EXPECT_EQ(block[24], 0x03 | 0x04);  // dropped and CRC tested, pattern byte 0 enabled
    EXPECT_EQ(block[25], 0x01);         // pattern byte 6
    EXPECT_EQ(block[26], 0x02);         // pattern byte 15
    EXPECT_EQ(block[6], 0x11);
    EXPECT_EQ(block[9], 0x00);
    EXPECT_EQ(block[12], 0x66);
    EXPECT_EQ(block[21], 0xFF);
}

TEST(CounterBlock, RoundTripKeepsEveryCondition) {
    for (int32_t sizeMode : {-1, 0, 1, 2}) {
        NettlebeamApiCounterV2 c = untestedCounter();
        c.isbcast = 1;
        c.ismcast = 0;
        c.isucast = 1;
        c.isicmp = 0;
        c.isudp = 1;
        c.sizeMode = sizeMode;
        c.size = sizeMode == -1 ? 0 : 1500;
        c.port1 = 1;
        for (size_t i = 0; i < 16; i += 3) {
            c.ip[i] = static_cast<uint8_t>(i + 1);
            c.ipMask[i] = 0xFF;
        }
        const auto decoded = decodeCounterBlock(encodeCounterBlock(c));
        ASSERT_TRUE(decoded.has_value());
        EXPECT_EQ(std::memcmp(&*decoded, &c, sizeof c), 0) << "sizeMode " << sizeMode;
    }
}

TEST(CounterBlock, SizeCodesAndShortBlocks) {
    std::array<uint8_t, kCounterBlockSize> block{};
    block[2] = 0xDC;
    block[3] = 0x05;
    block[22] = 2;
    auto c = decodeCounterBlock(block);
    ASSERT_TRUE(c.has_value());
    EXPECT_EQ(c->sizeMode, 0);
    EXPECT_EQ(c->size, 1500);
    EXPECT_EQ(encodeCounterBlock(*c)[22] & 3, 2);
    block[22] = 0;
    c = decodeCounterBlock(block);
    EXPECT_EQ(c->sizeMode, -1);
    EXPECT_EQ(c->size, 0);
    EXPECT_EQ(c->isIPv4, -1);
    EXPECT_FALSE(decodeCounterBlock(std::span(block).first(29)).has_value());
}

}  // namespace
}  // namespace nettlebeam::codec
