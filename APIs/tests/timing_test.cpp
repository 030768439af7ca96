// Timing: the device's time, its timing status and the GPS receiver's output.
#include <gtest/gtest.h>

#include <vector>

#include "library_fixture.h"

namespace nettlebeam::apitest {
namespace {

constexpr uint32_t kSetTimingTime = 0xCB202078;
constexpr uint32_t kReadTimingStatus = 0xCB202030;
constexpr uint32_t kReadGps = 0xCB203000;
constexpr uint32_t kFlushGps = 0xCB203004;

using TimingTest = LibraryTest;

TEST_F(TimingTest, SettingTheTimeChecksCapabilityAndSource) {
    int32_t gps = attachListed({"--type", "9"});
    int32_t noTiming = daemon().attach({"--type", "5"});
    ASSERT_TRUE(eventually([&] { return isListed(noTiming); }));
    NettlebeamApiTimingTime time{5, 1700000000, 250000};
    EXPECT_EQ(NettlebeamAPISetTimingTime(noTiming, time), -5);
    EXPECT_EQ(NettlebeamAPISetTimingTime(gps + 100, time), -4);
    EXPECT_EQ(NettlebeamAPISetTimingTime(gps, time), 0);
    // A failed request would show if an unknown source were sent at all.
    inject(gps, kSetTimingTime, {"--fail"});
    EXPECT_EQ(NettlebeamAPISetTimingTime(gps, {3, 0, 0}), -5);
    EXPECT_EQ(NettlebeamAPISetTimingTime(gps, {2, 0, 0}), -2);
}

TEST_F(TimingTest, PpsDeviationUnitDependsOnFirmware) {
    int32_t old = daemon().attach({"--type", "9", "--hw-fw", "206"});
    int32_t recent = attachListed({"--type", "9", "--hw-fw", "207"});
    ASSERT_TRUE(eventually([&] { return isListed(old); }));
    // b0 no module, deviation A = 0 and B = 10, source byte 9, RTC 2024-05-21.
    const std::string reply =
        "FE0304050700000A00640009"
        "0C2231"
        "1505E807";
    NettlebeamApiTimingStatus status{};
    inject(old, kReadTimingStatus, {"--reply-hex", reply});
    ASSERT_EQ(NettlebeamAPIGetTimingStatus(old, &status), 0);
    EXPECT_DOUBLE_EQ(status.ppsDeviation, -2.3283064365386963);
    EXPECT_EQ(status.gpsModuleAbsent, 1);
    EXPECT_EQ(status.gpsFix, 0);
    EXPECT_EQ(status.timeSource, 3);
    EXPECT_EQ(status.ppsAccuracy, 100);
    EXPECT_EQ(status.rtcYear, 2024);
    EXPECT_EQ(status.rtcMonth, 5);
    EXPECT_EQ(status.rtcDay, 21);

    inject(recent, kReadTimingStatus, {"--reply-hex", reply});
    ASSERT_EQ(NettlebeamAPIGetTimingStatus(recent, &status), 0);
    EXPECT_DOUBLE_EQ(status.ppsDeviation, -50.0);
    inject(recent, kReadTimingStatus, {"--reply-bytes", "18"});
    EXPECT_EQ(NettlebeamAPIGetTimingStatus(recent, &status), 18);
}

TEST_F(TimingTest, GpsOutputReadAndFlush) {
    int32_t handle = attachListed({"--type", "9"});
    std::vector<char> buffer(4096);
    int32_t length = -7;
    inject(handle, kReadGps, {"--reply-hex", "2447504747412C"});
    ASSERT_EQ(NettlebeamAPIGPSOutputRead(handle, buffer.data(), 4096, &length), 0);
    EXPECT_EQ(std::string(buffer.data(), static_cast<size_t>(length)), "$GPGGA,");

    inject(handle, kReadGps, {"--reply-bytes", "0"});
    EXPECT_EQ(NettlebeamAPIGPSOutputRead(handle, buffer.data(), 4096, &length), 0);
    EXPECT_EQ(length, 0);
    length = 9;
    inject(handle, kReadGps, {"--fail"});
    EXPECT_EQ(NettlebeamAPIGPSOutputRead(handle, buffer.data(), 4096, &length), -5);
    EXPECT_EQ(length, 0);

    EXPECT_EQ(NettlebeamAPIGPSOutputFlush(handle), 0);
    inject(handle, kFlushGps, {"--fail"});
    EXPECT_EQ(NettlebeamAPIGPSOutputFlush(handle), -1);
}

}  // namespace
}  // namespace nettlebeam::apitest
