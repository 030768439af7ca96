#include <gtest/gtest.h>

#include <array>

#include "byte_order.h"
#include "codec/timing.h"

namespace nettlebeam::codec {
namespace {

std::array<uint8_t, kTimingStatusSize> deviationReply(uint16_t ahead, uint16_t behind) {
    std::array<uint8_t, kTimingStatusSize> reply{};
    wire::writeLe16(reply, 5, ahead);
    wire::writeLe16(reply, 7, behind);
    return reply;
}

TEST(TimingStatus, FieldsComeFromTheirBytes) {
    const std::array<uint8_t, kTimingStatusSize> reply{
        3, 9, 11, 7, 0x05, 0, 0, 0, 0, 0x2C, 0x01, 4, 23, 59, 58, 31, 12, 0xE9, 0x07};
    const auto s = decodeTimingStatus(reply, 300);
    ASSERT_TRUE(s.has_value());
    EXPECT_EQ(s->gpsModuleAbsent, 0);
    EXPECT_EQ(s->gpsFix, 2);
    EXPECT_EQ(s->satellitesUsed, 9);
    EXPECT_EQ(s->gpsSatellites, 11);
    EXPECT_EQ(s->glonassSatellites, 7);
    EXPECT_EQ(s->timingFlagA, 1);
    EXPECT_EQ(s->timingFlagB, 0);
    EXPECT_EQ(s->timingFlagC, 1);
    EXPECT_EQ(s->ppsAccuracy, 300);
    EXPECT_EQ(s->timeSource, 1);
    EXPECT_EQ(s->rtcHour, 23);
    EXPECT_EQ(s->rtcMinute, 59);
    EXPECT_EQ(s->rtcSecond, 58);
    EXPECT_EQ(s->rtcDay, 31);
    EXPECT_EQ(s->rtcMonth, 12);
    EXPECT_EQ(s->rtcYear, 2025);
}

TEST(TimingStatus, GpsCodes) {
    auto reply = deviationReply(0, 0);
    reply[0] = 0xFE;
    auto s = decodeTimingStatus(reply, 0);
    EXPECT_EQ(s->gpsModuleAbsent, 1);
    EXPECT_EQ(s->gpsFix, 0);
    const std::array<std::pair<uint8_t, int32_t>, 4> fixes{{{1, 0}, {2, 1}, {3, 2}, {4, 0}}};
    for (auto [code, fix] : fixes) {
        reply[0] = code;
        EXPECT_EQ(decodeTimingStatus(reply, 0)->gpsFix, fix) << int(code);
    }
    const std::array<std::pair<uint8_t, int32_t>, 7> sources{
        {{1, 0}, {2, 5}, {3, 2}, {4, 1}, {5, 4}, {9, 3}, {0, 3}}};
    for (auto [code, source] : sources) {
        reply[11] = code;
        EXPECT_EQ(decodeTimingStatus(reply, 0)->timeSource, source) << int(code);
    }
}

TEST(TimingStatus, DeviationUnitDependsOnFirmware) {
    EXPECT_DOUBLE_EQ(decodeTimingStatus(deviationReply(0, 10), 206)->ppsDeviation,
                     -2.3283064365386963);
    EXPECT_DOUBLE_EQ(decodeTimingStatus(deviationReply(0, 10), 207)->ppsDeviation, -50.0);
    // A value ahead of the pulse wins over one behind it.
    EXPECT_DOUBLE_EQ(decodeTimingStatus(deviationReply(3, 10), 207)->ppsDeviation, 15.0);
    EXPECT_DOUBLE_EQ(decodeTimingStatus(deviationReply(0xFFFF, 0), 207)->ppsDeviation, 327675.0);
    const auto reply = deviationReply(0, 0);
    EXPECT_FALSE(decodeTimingStatus(std::span(reply).first(18), 207).has_value());
}

TEST(TimingTime, SourcesAndBlockLayout) {
    NettlebeamApiTimingTime time{5, -2, 0x12345678};
    const auto block = encodeTimingTime(time);
    ASSERT_TRUE(block.has_value());
    EXPECT_EQ((*block)[0], 1);
    EXPECT_EQ(wire::readLe32(*block, 1), 0xFFFFFFFEu);
    EXPECT_EQ(wire::readLe32(*block, 5), 0x12345678u);
    for (size_t i = 9; i < kTimingTimeBlockSize; ++i) EXPECT_EQ((*block)[i], 0);
    EXPECT_EQ(timingSourceCode(2), 2);
    EXPECT_EQ(timingSourceCode(4), 4);
    for (int32_t bad : {0, 1, 3, 6, -1}) {
        time.source = bad;
        EXPECT_FALSE(encodeTimingTime(time).has_value()) << bad;
    }
}

}  // namespace
}  // namespace nettlebeam::codec
