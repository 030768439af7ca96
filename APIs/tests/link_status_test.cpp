// Link status: the blocks a device reports depend on its hardware.
#include <gtest/gtest.h>

#include <string>

#include "library_fixture.h"

namespace nettlebeam::apitest {
namespace {

constexpr uint32_t kReadConfig = 0xCB20200C;
constexpr uint32_t kReadPortSpeed = 0xCB202040;
constexpr uint32_t kReadLinkStatus = 0xCB202034;
constexpr uint32_t kReadLinkDetails = 0xCB202044;
constexpr uint32_t kReadTransceivers = 0xCB202048;

// A configuration block whose only set bit is inline mode, or none.
std::string configHex(bool inlineMode) {
    return std::string(inlineMode ? "40000000" : "00000000") + std::string(56, '0');
}

using LinkStatusTest = LibraryTest;

TEST_F(LinkStatusTest, GigabitCopperInSpanModeReportsEachPortAndItsPhy) {
    int32_t handle = attachListed({"--type", "5"});
    inject(handle, kReadPortSpeed, {"--reply-hex", "CF"});
    inject(handle, kReadConfig, {"--reply-hex", configHex(false)});
    // Port A: w1 bit 0 clear (no partner information); port B: w1 = 1.
    inject(handle, kReadLinkDetails,
           {"--reply-hex",
            "00000000000000000000"
            "00000100000000000000"});
    NettlebeamApiLinkStatus status{};
    status.sfpValid = 1;
    ASSERT_EQ(NettlebeamAPIGetLinkStatus(handle, &status), 0);
    EXPECT_TRUE(status.linkValid);
    EXPECT_TRUE(status.phyValid);
    EXPECT_FALSE(status.sfpValid);
    EXPECT_EQ(status.ports[0].spanPort, 1);
    EXPECT_EQ(status.ports[0].speed, NETTLEBEAM_LINK_SPEED_10M);
    EXPECT_EQ(status.ports[0].halfDuplex, 0);
    EXPECT_EQ(status.ports[1].speed, NETTLEBEAM_LINK_SPEED_1000M);
    EXPECT_EQ(status.ports[1].halfDuplex, 0);
    for (int index = 2; index <= 12; ++index) EXPECT_EQ(status.phy[0].values[index], 2) << index;
    EXPECT_EQ(status.phy[1].values[1], 1);
}

TEST_F(LinkStatusTest, GigabitCopperInInlineModeWithoutLink) {
    int32_t handle = attachListed({"--type", "5"});
    inject(handle, kReadPortSpeed, {"--reply-hex", "00"});
    inject(handle, kReadConfig, {"--reply-hex", configHex(true)});
    NettlebeamApiLinkStatus status{};
    ASSERT_EQ(NettlebeamAPIGetLinkStatus(handle, &status), 0);
    EXPECT_EQ(status.ports[0].spanPort, 0);
    EXPECT_EQ(status.ports[0].speed, NETTLEBEAM_LINK_SPEED_NO_LINK);
    EXPECT_EQ(status.ports[1].speed, NETTLEBEAM_LINK_SPEED_NO_LINK);
}

TEST_F(LinkStatusTest, FailuresStopFillingAndLeaveLaterBlocksInvalid) {
    int32_t handle = attachListed({"--type", "5"});
    NettlebeamApiLinkStatus status{};
    inject(handle, kReadPortSpeed, {"--fail"});
    EXPECT_EQ(NettlebeamAPIGetLinkStatus(handle, &status), -2);
    EXPECT_FALSE(status.linkValid);
    inject(handle, kReadConfig, {"--fail"});
    EXPECT_EQ(NettlebeamAPIGetLinkStatus(handle, &status), -2);
    inject(handle, kReadLinkDetails, {"--reply-bytes", "19"});
    EXPECT_EQ(NettlebeamAPIGetLinkStatus(handle, &status), 19);
    EXPECT_TRUE(status.linkValid);
    EXPECT_FALSE(status.phyValid);
    EXPECT_EQ(NettlebeamAPIGetLinkStatus(handle + 100, &status), -4);
}

TEST_F(LinkStatusTest, OlderDevicesReportOneSharedLink) {
    int32_t fastEthernet = attachListed({"--type", "13"});
    int32_t firstGeneration = daemon().attach({"--type", "3"});
    ASSERT_TRUE(eventually([&] { return isListed(firstGeneration); }));
    NettlebeamApiLinkStatus status{};
    inject(fastEthernet, kReadPortSpeed, {"--reply-hex", "0A"});
    ASSERT_EQ(NettlebeamAPIGetLinkStatus(fastEthernet, &status), 0);
    EXPECT_EQ(status.ports[1].speed, NETTLEBEAM_LINK_SPEED_100M);
    EXPECT_EQ(status.ports[1].halfDuplex, 1);
    EXPECT_FALSE(status.phyValid);

    inject(firstGeneration, kReadLinkStatus, {"--reply-hex", "0C"});
    ASSERT_EQ(NettlebeamAPIGetLinkStatus(firstGeneration, &status), 0);
    EXPECT_EQ(status.ports[0].speed, NETTLEBEAM_LINK_SPEED_1000M);
    EXPECT_EQ(status.ports[0].halfDuplex, 0);
}

TEST_F(LinkStatusTest, TransceiverCagesReportTheirModules) {
    int32_t handle = attachListed({"--type", "11"});
    NettlebeamApiLinkStatus status{};
    ASSERT_EQ(NettlebeamAPIGetLinkStatus(handle, &status), 0);
    EXPECT_TRUE(status.sfpValid);
    EXPECT_FALSE(status.linkValid);
    EXPECT_EQ(status.sfpCount, 2);

    // Cage A holds a module named ACME; cage B is empty.
    std::string data(1000, '0');
    data.replace(0, 2, "01");
    data.replace(2 * 21, 8, "41434D45");
    for (int i = 25; i < 37; ++i) data.replace(2 * i, 2, "20");
    inject(handle, kReadTransceivers, {"--reply-hex", data});
    ASSERT_EQ(NettlebeamAPIGetLinkStatus(handle, &status), 0);
    EXPECT_TRUE(status.sfp[0].present);
    EXPECT_STREQ(status.sfp[0].vendorName, "ACME            ");
    EXPECT_FALSE(status.sfp[1].present);
    inject(handle, kReadTransceivers, {"--reply-bytes", "499"});
    EXPECT_EQ(NettlebeamAPIGetLinkStatus(handle, &status), 499);
    EXPECT_FALSE(status.sfpValid);
}

}  // namespace
}  // namespace nettlebeam::apitest
