// Identification and the per-type request set of the simulated devices.
#include <gtest/gtest.h>

#include "request_codes.h"
#include "sim_test_support.h"

namespace nettlebeam::driver::simtest {
namespace {

namespace code = wire::code;

struct Family {
    uint8_t id;
    bool gps;
    bool control;       // features, links, extra information, capture
    bool statisticsV1;  // else format 2 when `tenGigabit`
    bool phy;
    bool tenGigabit;
    bool timing;
};

const Family kFamilies[] = {
    {0x4A, true, false, false, false, false, false},  // bad firmware
    {0x33, true, false, false, false, false, false},  // an identifier no product uses
    {0x4B, true, true, true, false, false, false},   {0x4C, true, true, true, false, false, false},
    {0x4D, true, true, true, true, false, false},    {0x4E, true, true, true, true, false, false},
    {0x13, true, true, true, true, false, false},    {0x11, true, true, true, true, false, false},
    {0x10, true, true, true, true, false, true},     {0x12, true, true, true, true, false, true},
    {0x4F, false, true, false, false, true, false},  {0x4F, true, true, false, false, true, true},
    {0x14, true, true, false, false, true, true},    {0x50, true, true, true, false, false, false},
    {0x15, true, true, true, true, false, false},
};

class EveryFamily : public ::testing::TestWithParam<Family> {};

TEST_P(EveryFamily, AnswersTheIdentificationSequence) {
    const Family f = GetParam();
    Bench bench(f.id, {}, f.gps);
    auto id = bench.request(code::kHardwareId, {}, 1);
    ASSERT_TRUE(id.ok);
    EXPECT_EQ(id.bytes, std::vector<uint8_t>{f.id});

    auto versions = bench.request(code::kVersions, {}, 12);
    ASSERT_TRUE(versions.ok);
    // Last component first: driver 0.1.3.62, software 1.0.0.0, hardware 300.
    EXPECT_EQ(versions.bytes, (std::vector<uint8_t>{62, 3, 1, 0, 0, 0, 0, 1, 0x2C, 0x01, 0, 0}));

    auto timing = bench.request(code::kTimingStatus, {}, 19);
    ASSERT_TRUE(timing.ok);
    ASSERT_EQ(timing.bytes.size(), 19u);
    EXPECT_EQ(timing.bytes[0] == 0xFE, !f.timing) << "GPS module presence";

    auto mac = bench.request(code::kMacAddress, {}, 6);
    ASSERT_TRUE(mac.ok);
    EXPECT_EQ(mac.bytes, (std::vector<uint8_t>{0x02, 0x4E, 0x42, f.id, 0, 7}));
}

TEST_P(EveryFamily, ServesOnlyWhatItsHardwareHas) {
    const Family f = GetParam();
    Bench bench(f.id, {}, f.gps);
    auto served = [&](uint32_t c, uint32_t capacity) { return bench.request(c, {}, capacity).ok; };
    EXPECT_EQ(served(code::kReadConfiguration, 32), f.control);
    EXPECT_EQ(served(code::kExtraInformation, 64), f.control);
    EXPECT_EQ(served(code::kPortSpeedByte, 1), f.control);
    EXPECT_EQ(served(code::kCaptureStatus, 8256), f.control);
    EXPECT_EQ(served(code::kCaptureFramesWritten, 8), f.control);
    EXPECT_EQ(served(code::kStatisticsFormat1, 160), f.statisticsV1);
    EXPECT_EQ(served(code::kStatisticsFormat2, 128), f.tenGigabit);
    EXPECT_EQ(served(code::kStatisticsTrailer, 16), f.control);
    EXPECT_EQ(served(code::kHostDropCounter, 8), f.control);
    EXPECT_EQ(served(code::kLinkDetails, 20), f.phy);
    EXPECT_EQ(served(code::kTransceiverData, 500), f.tenGigabit);
    EXPECT_EQ(served(code::kReadDpiFilter, 224), f.tenGigabit);
    EXPECT_EQ(served(code::kReadPacketFilter, 248), f.tenGigabit);
    EXPECT_EQ(served(code::kReadPacketTypeFilter, 8), f.tenGigabit);
    EXPECT_EQ(served(code::kGpsOutputFlush, 0), f.timing);
    EXPECT_EQ(bench.request(code::kReadCounter, u32(0), 30).ok, f.tenGigabit);
    // Every device takes a firmware update.
    EXPECT_TRUE(bench.request(code::kFirmwareBegin1, u32(100)).ok);
    EXPECT_TRUE(bench.request(code::kFirmwareBegin2, u32(100)).ok);
}

TEST_P(EveryFamily, RepliesAsLongAsTheTableSaysAndNeverBeyondTheCapacity) {
    const Family f = GetParam();
    Bench bench(f.id, {}, f.gps);
    struct Fixed {
        uint32_t code;
        size_t size;
    };
    const Fixed fixed[] = {
        {code::kHardwareId, 1},           {code::kVersions, 12},
        {code::kMacAddress, 6},           {code::kTimingStatus, 19},
        {code::kReadConfiguration, 32},   {code::kExtraInformation, 64},
        {code::kPortSpeedByte, 1},        {code::kLinkStatusByte, 1},
        {code::kLinkDetails, 20},         {code::kTransceiverData, 500},
        {code::kStatisticsFormat1, 160},  {code::kStatisticsFormat2, 128},
        {code::kHostDropCounter, 8},      {code::kStatisticsTrailer, 16},
        {code::kReadDpiFilter, 224},      {code::kReadPacketFilter, 248},
        {code::kReadPacketTypeFilter, 8}, {code::kCaptureStatus, 8256},
        {code::kCaptureFramesWritten, 8},
    };
    for (const auto& r : fixed) {
        auto roomy = bench.request(r.code, {}, 100000);
        if (!roomy.ok) continue;  // not this hardware
        EXPECT_EQ(roomy.bytes.size(), r.size) << std::hex << r.code;
        EXPECT_FALSE(bench.request(r.code, {}, static_cast<uint32_t>(r.size - 1)).ok)
            << std::hex << r.code;
        // A request that carries no payload refuses one.
        EXPECT_FALSE(bench.request(r.code, {1}, 100000).ok) << std::hex << r.code;
    }
}

INSTANTIATE_TEST_SUITE_P(SimulatedDevices, EveryFamily, ::testing::ValuesIn(kFamilies),
                         [](const auto& info) {
                             char name[32];
                             std::snprintf(name, sizeof name, "id%02X%s", info.param.id,
                                           info.param.gps ? "" : "NoGps");
                             return std::string(name);
                         });

TEST(SimulatedDeviceIdentity, ReportsTheUsbSpeedInTheExtraInformation) {
    Bench bench(0x4D);
    bench.settings.usbSpeed = 2;
    auto extra = bench.request(code::kExtraInformation, {}, 64);
    ASSERT_TRUE(extra.ok);
    EXPECT_EQ(extra.bytes[0], 1);
    EXPECT_EQ(extra.bytes[1], 2);
}

TEST(SimulatedDeviceIdentity, UnknownCodesFail) {
    Bench bench(0x4F);
    EXPECT_FALSE(bench.request(0xCB202070).ok);
    EXPECT_FALSE(bench.request(0xCB202000).ok);  // enumeration is the server's, not a device's
    EXPECT_FALSE(bench.request(0).ok);
}

TEST(SimulatedDeviceIdentity, PacketTypeFilterNeedsHardwareFirmware220) {
    Bench older(0x4F, {}, true, 219);
    EXPECT_FALSE(older.request(code::kReadPacketTypeFilter, {}, 8).ok);
    Bench newer(0x4F, {}, true, 220);
    EXPECT_TRUE(newer.request(code::kReadPacketTypeFilter, {}, 8).ok);
}

TEST(SimulatedDeviceIdentity, DescribesTypeIdentifierAndMac) {
    Bench bench(0x50);
    EXPECT_EQ(bench.device().describe(), "type 13 (FastEthernet) id 0x50 mac 02:4e:42:50:00:07");
}

}  // namespace
}  // namespace nettlebeam::driver::simtest
