// The timing unit of the simulated devices: GPS fix progression, the device
// clock and its sources, and the receiver's NMEA output.
#include <gtest/gtest.h>

#include <map>
#include <set>
#include <sstream>

#include "codec/timing.h"
#include "request_codes.h"
#include "sim/nmea.h"
#include "sim_test_support.h"

namespace nettlebeam::driver::simtest {
namespace {

namespace code = wire::code;
using namespace std::chrono_literals;

// Time source values as the library reports them.
constexpr int kSystemClock = 0, kRtc = 1, kGps = 2, kManual = 4, kSntp = 5;

NettlebeamApiTimingStatus timing(Bench& bench) {
    auto reply = bench.request(code::kTimingStatus, {}, 19);
    EXPECT_TRUE(reply.ok);
    auto status = codec::decodeTimingStatus(reply.bytes, bench.settings.hwFirmwareVersion);
    EXPECT_TRUE(status.has_value());
    return status.value_or(NettlebeamApiTimingStatus{});
}

std::vector<uint8_t> setTimeBlock(uint8_t source, uint32_t seconds) {
    std::vector<uint8_t> block(17, 0);
    block[0] = source;
    auto s = u32(seconds);
    std::copy(s.begin(), s.end(), block.begin() + 1);
    std::copy(s.begin(), s.end(), block.begin() + 5);
    return block;
}

std::string readGps(Bench& bench, uint32_t capacity = 65536) {
    auto reply = bench.request(code::kGpsOutputRead, {}, capacity);
    EXPECT_TRUE(reply.ok);
    return std::string(reply.bytes.begin(), reply.bytes.end());
}

std::vector<std::string> lines(const std::string& text) {
    std::vector<std::string> out;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) out.push_back(line);
    return out;
}

TEST(SimulatedTiming, TheGpsFixProgressesFromNoneTo3d) {
    Bench bench(0x10);
    auto start = timing(bench);
    EXPECT_EQ(start.gpsModuleAbsent, 0);
    EXPECT_EQ(start.gpsFix, 0);
    EXPECT_EQ(start.satellitesUsed, 0);
    EXPECT_EQ(start.timingFlagA, 0);

    bench.run(5s);
    auto twoD = timing(bench);
    EXPECT_EQ(twoD.gpsFix, 1);
    EXPECT_GE(twoD.satellitesUsed, 3);
    EXPECT_GT(twoD.gpsSatellites, start.gpsSatellites);
    EXPECT_EQ(twoD.timingFlagB, 1) << "PPS locked";

    bench.run(20s);
    auto threeD = timing(bench);
    EXPECT_EQ(threeD.gpsFix, 2);
    EXPECT_GE(threeD.satellitesUsed, 4);
    EXPECT_LE(threeD.satellitesUsed, threeD.gpsSatellites + threeD.glonassSatellites);
    EXPECT_EQ(threeD.timingFlagA, 1);
    EXPECT_EQ(threeD.timingFlagC, 1) << "oscillator synchronised after a while";
    EXPECT_GT(threeD.ppsAccuracy, 0);
    EXPECT_LT(std::abs(threeD.ppsDeviation), 100.0);
}

TEST(SimulatedTiming, DevicesWithoutAReceiverSayNoModuleIsFitted) {
    for (auto [id, gps] : {std::pair{uint8_t{0x4F}, false}, {uint8_t{0x4D}, true}}) {
        Bench bench(id, {}, gps);
        bench.run(20s);
        auto status = timing(bench);
        EXPECT_EQ(status.gpsModuleAbsent, 1);
        EXPECT_EQ(status.gpsFix, 0);
    }
}

TEST(SimulatedTiming, TheDeviceClockFollowsTheSetTimeRequest) {
    Bench bench(0x4F);
    // Factory setting: initialised from the system time.
    auto status = timing(bench);
    EXPECT_EQ(status.timeSource, kSystemClock);
    EXPECT_EQ(status.rtcYear, 2026);
    EXPECT_EQ(status.rtcMonth, 12);
    EXPECT_EQ(status.rtcDay, 7);
    EXPECT_EQ(status.rtcHour, 10);

    // 2024-01-01 00:00:00 UTC from SNTP.
    ASSERT_TRUE(bench.request(code::kSetTimingTime, setTimeBlock(1, 1704067200)).ok);
    bench.run(61s);
    status = timing(bench);
    EXPECT_EQ(status.timeSource, kSntp);
    EXPECT_EQ(status.rtcYear, 2024);
    EXPECT_EQ(status.rtcMonth, 1);
    EXPECT_EQ(status.rtcDay, 1);
    EXPECT_EQ(status.rtcMinute, 1);
    EXPECT_EQ(status.rtcSecond, 1);

    ASSERT_TRUE(bench.request(code::kSetTimingTime, setTimeBlock(4, 1704067200 + 86400)).ok);
    status = timing(bench);
    EXPECT_EQ(status.timeSource, kManual);
    EXPECT_EQ(status.rtcDay, 2);

    // GPS time now that the receiver has a fix: the host's UTC again.
    ASSERT_TRUE(bench.request(code::kSetTimingTime, setTimeBlock(2, 0)).ok);
    status = timing(bench);
    EXPECT_EQ(status.timeSource, kGps);
    EXPECT_EQ(status.rtcYear, 2026);
}

TEST(SimulatedTiming, SetTimeRefusesWhatTheDeviceCannotDo) {
    Bench bench(0x12);
    EXPECT_FALSE(bench.request(code::kSetTimingTime, setTimeBlock(2, 0)).ok) << "no fix yet";
    EXPECT_FALSE(bench.request(code::kSetTimingTime, setTimeBlock(3, 1704067200)).ok);
    auto shortBlock = setTimeBlock(1, 1704067200);
    shortBlock.pop_back();
    EXPECT_FALSE(bench.request(code::kSetTimingTime, shortBlock).ok);
    EXPECT_EQ(timing(bench).rtcYear, 2026) << "unchanged";
    Bench noTiming(0x4F, {}, false);
    EXPECT_FALSE(noTiming.request(code::kSetTimingTime, setTimeBlock(1, 1704067200)).ok);
}

TEST(SimulatedTiming, InitialisationFromTheRtcKeepsTheClockAcrossARestart) {
    Bench bench(0x10);
    auto config = bench.request(code::kReadConfiguration, {}, 32).bytes;
    config[8] = static_cast<uint8_t>((config[8] & ~0x1C) | 8);  // RTC
    ASSERT_TRUE(bench.request(code::kWriteConfiguration, config).ok);
    ASSERT_TRUE(bench.request(code::kSetTimingTime, setTimeBlock(4, 1704067200)).ok);
    bench.device().powerOn();  // the unsaved configuration is gone: system time again
    EXPECT_EQ(timing(bench).rtcYear, 2026);
    ASSERT_TRUE(bench.request(code::kWriteConfiguration, config).ok);
    ASSERT_TRUE(bench.request(code::kSaveConfiguration).ok);
    ASSERT_TRUE(bench.request(code::kSetTimingTime, setTimeBlock(4, 1704067200)).ok);
    bench.device().powerOn();
    auto status = timing(bench);
    EXPECT_EQ(status.timeSource, kRtc);
    EXPECT_EQ(status.rtcYear, 2024);
}

TEST(SimulatedGpsOutput, SendsChecksummedSentencesOncePerSecond) {
    Bench bench(0x4F);
    EXPECT_EQ(readGps(bench), "");
    bench.run(3s);
    auto text = readGps(bench);
    std::map<std::string, int> kinds;
    std::set<std::string> times;
    for (const auto& line : lines(text)) {
        // "$" talker+type "," fields "*" two hex digits CR
        auto star = line.find('*');
        ASSERT_TRUE(line.size() > 10 && line.substr(0, 3) == "$GP" && line[6] == ',' &&
                    star == line.size() - 4 && line.back() == '\r')
            << line;
        std::string body = line.substr(1, star - 1);
        EXPECT_EQ(line.substr(star + 1, 2), sim::nmeaChecksum(body)) << line;
        std::string kind = body.substr(0, 5);
        ++kinds[kind];
        if (kind == "GPRMC") times.insert(body.substr(6, 9));
    }
    // The second the device powered on in, and the three after it.
    EXPECT_EQ(kinds["GPRMC"], 4);
    EXPECT_EQ(kinds["GPGGA"], 4);
    EXPECT_GE(kinds["GPGSV"], 4);
    EXPECT_EQ(times, (std::set<std::string>{"100000.00", "100001.00", "100002.00", "100003.00"}));
    EXPECT_NE(text.find("GPRMC,100001.00,V,"), std::string::npos) << "no fix at first";
    EXPECT_EQ(readGps(bench), "") << "a read drains what it returned";

    bench.run(12s);
    auto later = readGps(bench);
    EXPECT_NE(later.find("GPRMC,100015.00,A,"), std::string::npos);
    EXPECT_NE(later.find(",071226,"), std::string::npos) << "the date";
}

TEST(SimulatedGpsOutput, ReadsFitTheCallersBufferAndFlushEmptiesIt) {
    Bench bench(0x14);
    bench.run(2s);
    auto first = readGps(bench, 10);
    EXPECT_EQ(first.size(), 10u);
    EXPECT_EQ(first.substr(0, 6), "$GPRMC");
    auto rest = readGps(bench);
    EXPECT_EQ(rest.substr(0, 6), "000.00") << "continues where the last read stopped";
    bench.run(2s);
    ASSERT_TRUE(bench.request(code::kGpsOutputFlush).ok);
    EXPECT_EQ(readGps(bench), "");
    EXPECT_EQ(bench.request(code::kGpsOutputRead, {}, 0).bytes.size(), 0u);
}

TEST(SimulatedGpsOutput, AnUnreadBufferKeepsOnlyTheNewestWholeSentences) {
    Bench bench(0x10);
    bench.run(600s);
    auto text = readGps(bench);
    EXPECT_LE(text.size(), 8192u);
    EXPECT_GT(text.size(), 4096u);
    EXPECT_EQ(text.front(), '$');
    EXPECT_NE(text.find("GPRMC,100959.00"), std::string::npos) << "the newest second";
    EXPECT_EQ(text.find("GPRMC,100001.00"), std::string::npos) << "the oldest are gone";
}

}  // namespace
}  // namespace nettlebeam::driver::simtest
