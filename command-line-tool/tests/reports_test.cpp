// The text reports, checked character by character against their formats.
#include "reports.h"

#include <gtest/gtest.h>

namespace beamctl {
namespace {

TEST(SizeText, ThresholdsAreStrictAndUseBinaryUnits) {
    EXPECT_EQ(sizeText(0), "0.00 B");
    EXPECT_EQ(sizeText(1024), "1024.00 B");
    EXPECT_EQ(sizeText(1025), "1.00 KB");
    EXPECT_EQ(sizeText(1536), "1.50 KB");
    EXPECT_EQ(sizeText(1048576), "1024.00 KB");
    EXPECT_EQ(sizeText(1048577), "1.00 MB");
    EXPECT_EQ(sizeText(1073741824), "1024.00 MB");
    EXPECT_EQ(sizeText(1073741825), "1.00 GB");
    EXPECT_EQ(sizeText(5ull << 40), "5120.00 GB");
    EXPECT_EQ(sizeText(UINT64_MAX), "17179869184.00 GB");
}

TEST(ModelName, OneNamePerDisplayGroupAndNoneOutsideThem) {
    EXPECT_TRUE(modelName(DeviceTypeGigabitGen1).has_value());
    for (std::uint32_t type :
         {DeviceTypeGigabitGen2Poe, DeviceTypeGigabitGen2Gps, DeviceTypeGigabitGen2GpsPoe}) {
        EXPECT_EQ(modelName(type), modelName(DeviceTypeGigabitGen2)) << type;
    }
    EXPECT_EQ(modelName(DeviceTypeGigabitGen3Poe), modelName(DeviceTypeGigabitGen3));
    EXPECT_EQ(modelName(DeviceTypeTenGigabitGps), modelName(DeviceTypeTenGigabit));
    EXPECT_TRUE(modelName(DeviceTypeFastEthernet).has_value());
    EXPECT_NE(*modelName(DeviceTypeGigabitGen1), *modelName(DeviceTypeGigabitGen2));
    EXPECT_NE(*modelName(DeviceTypeTenGigabit), *modelName(DeviceTypeFastEthernet));
    for (std::uint32_t type : {0u, 1u, 2u, 4u, 14u, 15u, 0xFFFFFFFFu}) {
        EXPECT_FALSE(modelName(type).has_value()) << type;
    }
}

TEST(MacLine, LowerCaseHexPairs) {
    const std::uint8_t mac[6] = {0x00, 0x1b, 0xA0, 0xff, 0x09, 0x7E};
    EXPECT_EQ(macLine(mac), "00:1b:a0:ff:09:7e\n");
}

TEST(StatisticsReport, FirstFormatPrintsBothPortsWithoutTheWeightedCount) {
    NettlebeamApiStatistics statistics{};
    statistics.version = 1;
    statistics.timestamp = 123456789;
    statistics.swDropped = 7;
    statistics.data.v1.linkUpTime = 5000;
    statistics.data.v1.linkDownTime = 20;
    auto& a = statistics.data.v1.portA;
    a = {1, 2, 3, 4, 5, 6, 7, 999, 9, 10, 11};
    auto& b = statistics.data.v1.portB;
    b = {21, 22, 23, 24, 25, 26, 18446744073709551615ull, 999, 29, 30, 31};
    const char* expected =
        "\n"
        "Timestamp                 :            123456789\n"
        "SW dropped                :                    7\n"
        "Link Up                   :                 5000 ms\n"
        "Link Down                 :                   20 ms\n"
        "Port A\n"
        "  Less than 64bytes         :                    1\n"
        "  Between 64 and 1518 bytes :                    2\n"
        "  More than 1518 bytes      :                    3\n"
        "  Collisions                :                    4\n"
        "  CRC Errors                :                    5\n"
        "  Jabbers                   :                    6\n"
        "  Total Bytes               :                    7\n"
        "  Total valid packets       :                    9\n"
        "  Total invalid packets     :                   10\n"
        "  HW dropped                :                   11\n"
        "Port B\n"
        "  Less than 64bytes         :                   21\n"
        "  Between 64 and 1518 bytes :                   22\n"
        "  More than 1518 bytes      :                   23\n"
        "  Collisions                :                   24\n"
        "  CRC Errors                :                   25\n"
        "  Jabbers                   :                   26\n"
        "  Total Bytes               : 18446744073709551615\n"
        "  Total valid packets       :                   29\n"
        "  Total invalid packets     :                   30\n"
        "  HW dropped                :                   31\n";
    EXPECT_EQ(statisticsReport(statistics), expected);
}

TEST(StatisticsReport, SecondFormatNumbersTheSixteenCounters) {
    NettlebeamApiStatistics statistics{};
    statistics.version = 2;
    statistics.timestamp = 42;
    statistics.swDropped = 3;
    for (int i = 0; i < 16; ++i) statistics.data.v2.counters[i] = 100 + i;
    std::string expected =
        "\n"
        "Timestamp  :                   42\n"
        "SW dropped :                    3\n";
    for (int i = 1; i <= 16; ++i) {
        char line[64];
        std::snprintf(line, sizeof line, "Counter %02d : %20d\n", i, 99 + i);
        expected += line;
    }
    EXPECT_EQ(statisticsReport(statistics), expected);
}

TEST(StatisticsReport, UnknownVersionsHaveNoReport) {
    NettlebeamApiStatistics statistics{};
    for (std::int32_t version : {0, 3, -1}) {
        statistics.version = version;
        EXPECT_FALSE(statisticsReport(statistics).has_value()) << version;
    }
}

TEST(CaptureSummary, StoppedOrStartedWithSizes) {
    NettlebeamApiDiskDumpStatus status{};
    status.cacheUsed = 2048;
    EXPECT_EQ(captureSummary(status), "Direct capture STOPPED\n");
    status.enabled = 1;
    status.bytesWritten = 1073741825;
    status.bytesDropped = 1024;
    status.filesWritten = 12;
    EXPECT_EQ(captureSummary(status),
              "Direct capture STARTED\n"
              "Cache used                : 2.00 KB\n"
              "Written                   : 1.00 GB\n"
              "Dropped                   : 1024.00 B\n"
              "Files Written             : 12\n");
}

TEST(CaptureStatusReport, FlagsAsZeroOrOneAndRawCounts) {
    NettlebeamApiDiskDumpStatus status{};
    status.enabled = 7;
    status.error = -8;
    status.cacheUsed = 1;
    status.maxCache = 104857600;
    status.bytesWritten = 5000000000ull;
    status.bytesDropped = 99;  // not part of this report
    status.filesWritten = 3;
    EXPECT_EQ(captureStatusReport(status),
              "Enabled : 1\n"
              "Error : 1\n"
              "Cache used : 1\n"
              "Maximum cache : 104857600\n"
              "Bytes Written : 5000000000\n"
              "Files Written : 3\n");
    status = {};
    EXPECT_EQ(captureStatusReport(status).substr(0, 22), "Enabled : 0\nError : 0\n");
}

TEST(DpiFilterReport, ShowsTheFirstSixteenBytesAndTheMask) {
    NettlebeamApiDpiFilter filter{};
    filter.enabled = 1;
    for (int i = 0; i < 32; ++i) filter.pattern[i] = static_cast<std::uint8_t>(0xF0 + i);
    filter.mask = 0xffff;
    EXPECT_EQ(dpiFilterReport(filter),
              "DPI Filter Configuration : \n"
              "Status : Enabled\n"
              "Filter Data : f0f1f2f3f4f5f6f7f8f9fafbfcfdfeff\n"
              "Filter Mask : 0x0000ffff\n");
    filter.enabled = 2;  // only exactly 1 is on
    EXPECT_NE(dpiFilterReport(filter).find("Status : Disabled\n"), std::string::npos);
}

TEST(FeaturesReport, ForcedLinesFollowTheCapabilities) {
    NettlebeamApiDeviceFeatures features{};
    features.keepCrcErrors = 1;
    features.disablePortB = 1;
    features.packetSlicing = 1;
    features.slicingLength = 4464;
    features.inlineMode = 0;
    features.loopback = 1;
    features.syncTimestamps = 1;
    features.timestamps = 5;  // not exactly 1
    EXPECT_EQ(featuresReport(features, CapPortSpeedSelect | CapLoopback),
              "Features Configuration : \n"
              "Transmit CRC errors : Enabled\n"
              "Keep CRC32 field : Disabled\n"
              "Disable port A : Disabled\n"
              "Disable port B : Enabled\n"
              "Packet slicing : Enabled 4464 bytes\n"
              "Inline mode : Disabled\n"
              "Loopback : Enabled\n"
              "Timestamps in packets : Disabled\n"
              "Synchronized timestamps : Enabled\n");
    const std::string forced = featuresReport(features, 0);
    EXPECT_NE(forced.find("Inline mode : Enabled (forced)\nLoopback : Disabled (forced)\n"),
              std::string::npos);
}

}  // namespace
}  // namespace beamctl
