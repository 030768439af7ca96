// Statistics in both formats and the programmable counters.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <vector>

#include "library_fixture.h"

namespace nettlebeam::apitest {
namespace {

constexpr uint32_t kReadFormat1 = 0xCB202010;
constexpr uint32_t kReadFormat2 = 0xCB202060;
constexpr uint32_t kReadHostDropped = 0xCB202024;
constexpr uint32_t kReadPortSpeed = 0xCB202040;
constexpr uint32_t kReadTrailer = 0xCB20208C;
constexpr uint32_t kWriteCounter = 0xCB202058;
constexpr uint32_t kReadCounter = 0xCB20205C;
constexpr uint64_t kSignature = 0x0D0C0B0A03020100ull;

std::string wordsHex(const std::vector<uint64_t>& words) {
    std::string hex;
    for (uint64_t word : words) {
        for (int i = 0; i < 8; ++i) {
            char byte[3];
            std::snprintf(byte, sizeof(byte), "%02x",
                          static_cast<unsigned>((word >> (8 * i)) & 0xFF));
            hex += byte;
        }
    }
    return hex;
}

// A format-1 reply: the first group counts 1..8, the second 101..108.
std::vector<uint64_t> format1Reply(uint64_t deviceTime) {
    std::vector<uint64_t> words;
    for (uint64_t i = 1; i <= 8; ++i) words.push_back(i);
    for (uint64_t i = 101; i <= 108; ++i) words.push_back(i);
    words.push_back(100000);  // link up: 2 ms
    words.push_back(49999);   // link down: under one millisecond
    words.push_back(deviceTime);
    words.push_back(kSignature);
    return words;
}

uint64_t weighted(uint64_t deviceTime, double factor) {
    return static_cast<uint64_t>(static_cast<double>(deviceTime) * 0.025 * factor);
}

using StatisticsTest = LibraryTest;

TEST_F(StatisticsTest, Format1GroupsGoToPortBWithoutSpeedSelection) {
    int32_t handle = attachListed({"--type", "3"});
    inject(handle, kReadFormat1, {"--reply-hex", wordsHex(format1Reply(4000))});
    inject(handle, kReadHostDropped, {"--reply-hex", wordsHex({77})});
    inject(handle, kReadTrailer, {"--reply-hex", wordsHex({0x1122334455667788, 0x99})});
    NettlebeamApiStatistics stats{};
    ASSERT_EQ(NettlebeamAPIGetStatistics(handle, &stats), 0);
    EXPECT_EQ(stats.version, 1);
    EXPECT_EQ(stats.swDropped, 77u);
    EXPECT_GT(stats.timestamp, 0u);
    const NettlebeamApiStatisticsV1& v1 = stats.data.v1;
    EXPECT_EQ(v1.linkUpTime, 2u);
    EXPECT_EQ(v1.linkDownTime, 0u);
    // First group: bytes, <64, 64..1518, >1518, CRC, jabbers, collisions, drops.
    EXPECT_EQ(v1.portB.totalBytes, 1u);
    EXPECT_EQ(v1.portB.lessThan64, 2u);
    EXPECT_EQ(v1.portB.moreThan1518, 4u);
    EXPECT_EQ(v1.portB.crcErrors, 5u);
    EXPECT_EQ(v1.portB.collisions, 7u);
    EXPECT_EQ(v1.portB.hwDropped, 8u);
    EXPECT_EQ(v1.portB.totalValidPackets, 2u + 3 + 4);
    EXPECT_EQ(v1.portB.totalInvalidPackets, 5u + 6 + 7);
    EXPECT_EQ(v1.portB.speedWeightedCount, 100u);
    EXPECT_EQ(v1.portA.totalBytes, 101u);
    EXPECT_EQ(v1.portA.speedWeightedCount, 100u);
    EXPECT_EQ(v1.trailer[0], 0x88);
    EXPECT_EQ(v1.trailer[8], 0x99);
}

TEST_F(StatisticsTest, SpeedSelectionScalesEachPortAndKeepsPrecisionForLongUptimes) {
    int32_t handle = attachListed({"--type", "5"});
    // Several days of device time: single precision would be off by far more
    // than one byte here.
    const uint64_t deviceTime = (1ull << 40) + 123457;
    inject(handle, kReadFormat1, {"--reply-hex", wordsHex(format1Reply(deviceTime))});
    inject(handle, kReadPortSpeed, {"--reply-hex", "20"});
    NettlebeamApiStatistics stats{};
    ASSERT_EQ(NettlebeamAPIGetStatistics(handle, &stats), 0);
    EXPECT_EQ(stats.data.v1.portA.totalBytes, 1u);
    EXPECT_EQ(stats.data.v1.portA.speedWeightedCount, weighted(deviceTime, 100));
    EXPECT_EQ(stats.data.v1.portB.totalBytes, 101u);
    EXPECT_EQ(stats.data.v1.portB.speedWeightedCount, weighted(deviceTime, 10));
}

TEST_F(StatisticsTest, FailuresOfTheStatisticsRequests) {
    int32_t handle = attachListed({"--type", "5"});
    NettlebeamApiStatistics stats;
    std::memset(&stats, 0, sizeof(stats));
    auto badSignature = format1Reply(10);
    badSignature.back() = 0;
    inject(handle, kReadFormat1, {"--reply-hex", wordsHex(badSignature)});
    EXPECT_EQ(NettlebeamAPIGetStatistics(handle, &stats), -1);
    EXPECT_EQ(stats.version, 1);
    EXPECT_EQ(stats.data.v1.portA.totalBytes, 0u);

    inject(handle, kReadFormat1, {"--fail"});
    EXPECT_EQ(NettlebeamAPIGetStatistics(handle, &stats), -2);
    inject(handle, kReadFormat1, {"--reply-bytes", "159"});
    EXPECT_EQ(NettlebeamAPIGetStatistics(handle, &stats), 159);
    inject(handle, kReadHostDropped, {"--fail"});
    EXPECT_EQ(NettlebeamAPIGetStatistics(handle, &stats), -2);
    inject(handle, kReadTrailer, {"--reply-bytes", "4"});
    EXPECT_EQ(NettlebeamAPIGetStatistics(handle, &stats), 4);
    EXPECT_EQ(NettlebeamAPIGetStatistics(handle, &stats), 0);
}

TEST_F(StatisticsTest, Format2AndDevicesWithoutStatistics) {
    int32_t tenGigabit = attachListed({"--type", "11"});
    int32_t badFirmware = daemon().attach({"--hwid", "0x4A"});
    ASSERT_TRUE(eventually([&] { return isListed(badFirmware); }));
    std::vector<uint64_t> counters;
    for (uint64_t i = 0; i < 16; ++i) counters.push_back(1000 + i);
    inject(tenGigabit, kReadFormat2, {"--reply-hex", wordsHex(counters)});
    inject(tenGigabit, kReadTrailer, {"--reply-hex", wordsHex({0xAB, 0xCD})});
    NettlebeamApiStatistics stats{};
    ASSERT_EQ(NettlebeamAPIGetStatistics(tenGigabit, &stats), 0);
    EXPECT_EQ(stats.version, 2);
    EXPECT_EQ(stats.data.v2.counters[0], 1000u);
    EXPECT_EQ(stats.data.v2.counters[15], 1015u);
    EXPECT_EQ(stats.data.v2.trailer[0], 0xAB);
    EXPECT_EQ(stats.data.v2.trailer[8], 0xCD);

    EXPECT_EQ(NettlebeamAPIGetStatistics(badFirmware, &stats), -5);
    EXPECT_EQ(NettlebeamAPIGetStatistics(tenGigabit + 100, &stats), -4);
}

TEST_F(StatisticsTest, ProgrammableCountersAreCheckedEncodedAndReadBack) {
    int32_t handle = attachListed({"--type", "11"});
    int32_t gen2 = daemon().attach({"--type", "5"});
    ASSERT_TRUE(eventually([&] { return isListed(gen2); }));
    NettlebeamApiCounterV2 counter{};
    counter.index = 16;
    EXPECT_EQ(NettlebeamAPISetCounterV2(handle, counter), -3);
    EXPECT_EQ(NettlebeamAPIGetCounterV2(handle, 16, &counter), -3);
    EXPECT_EQ(NettlebeamAPIGetCounterV2(handle, -1, &counter), -3);
    EXPECT_EQ(NettlebeamAPIGetCounterV2(gen2, 0, &counter), -5);

    // Nothing tested: only the index, the flags byte and the size are set.
    NettlebeamApiCounterV2 plain{};
    plain.index = 3;
    for (int32_t* field :
         {&plain.isIPv4, &plain.isIPv6, &plain.isbcast, &plain.ismcast, &plain.isucast,
          &plain.isicmp, &plain.isudp, &plain.istcp, &plain.iscrcValid, &plain.isDropped})
        *field = -1;
    plain.sizeMode = -1;
    plain.size = 0x0140;
    plain.port1 = 1;
    plain.mode = 1;
    ASSERT_EQ(NettlebeamAPISetCounterV2(handle, plain), 0);
    auto block = raw(handle, kReadCounter, {3, 0, 0, 0}, 30);
    std::vector<uint8_t> expected(30, 0);
    expected[0] = 3;
    expected[1] = 0x03;
    expected[2] = 0x40;
    expected[3] = 0x01;
    EXPECT_EQ(block, expected);

    NettlebeamApiCounterV2 rule = plain;
    rule.isudp = 1;
    rule.isIPv6 = 0;
    rule.sizeMode = 0;
    rule.ip[15] = 0x20;
    rule.ipMask[15] = 0xFF;
    ASSERT_EQ(NettlebeamAPISetCounterV2(handle, rule), 0);
    NettlebeamApiCounterV2 read{};
    ASSERT_EQ(NettlebeamAPIGetCounterV2(handle, 3, &read), 0);
    rule.index = 0;  // not carried back
    EXPECT_EQ(std::memcmp(&read, &rule, sizeof(read)), 0);

    inject(handle, kWriteCounter, {"--fail"});
    EXPECT_EQ(NettlebeamAPISetCounterV2(handle, plain), -2);
    inject(handle, kReadCounter, {"--reply-bytes", "12"});
    EXPECT_EQ(NettlebeamAPIGetCounterV2(handle, 3, &read), 12);
}

}  // namespace
}  // namespace nettlebeam::apitest
