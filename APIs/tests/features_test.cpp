// Features and port speeds: each setter reads the configuration block, changes
// only its own bits and writes the whole block back.
#include <gtest/gtest.h>

#include <array>
#include <cstring>

#include "library_fixture.h"

namespace nettlebeam::apitest {
namespace {

constexpr uint32_t kWriteConfig = 0xCB202008;
constexpr uint32_t kReadConfig = 0xCB20200C;
constexpr uint32_t kSaveFeatures = 0xCB202004;
constexpr uint32_t kRestart = 0xCB20207C;

std::string blockHex(const std::array<uint32_t, 8>& words) {
    std::string hex;
    for (uint32_t word : words) {
        char bytes[9];
        std::snprintf(bytes, sizeof(bytes), "%02x%02x%02x%02x", word & 0xFF, (word >> 8) & 0xFF,
                      (word >> 16) & 0xFF, word >> 24);
        hex += bytes;
    }
    return hex;
}

class FeaturesTest : public LibraryTest {
  protected:
    std::array<uint32_t, 8> deviceBlock(int32_t handle) {
        auto bytes = raw(handle, kReadConfig, {}, 32);
        std::array<uint32_t, 8> words{};
        EXPECT_EQ(bytes.size(), 32u);
        for (size_t i = 0; i < 8 && 4 * i + 3 < bytes.size(); ++i)
            words[i] = bytes[4 * i] | bytes[4 * i + 1] << 8 | bytes[4 * i + 2] << 16 |
                       static_cast<uint32_t>(bytes[4 * i + 3]) << 24;
        return words;
    }
};

TEST_F(FeaturesTest, ClearingEveryFeatureTouchesOnlyFeatureBits) {
    int32_t handle = attachListed({"--type", "5"});
    inject(handle, kReadConfig,
           {"--reply-hex", blockHex({~0u, ~0u, ~0u, ~0u, ~0u, ~0u, ~0u, ~0u})});
    NettlebeamApiDeviceFeatures cleared{};
    cleared.timestampInitSource = 3;
    ASSERT_EQ(NettlebeamAPISetDeviceFeatures(handle, cleared), 0);
    EXPECT_EQ(deviceBlock(handle),
              (std::array<uint32_t, 8>{0xFCE7FF94, 0xEFFFFFFF, 0xF00000A0, ~0u, 0, ~0u, ~0u, ~0u}));
}

TEST_F(FeaturesTest, FeaturesRoundTripThroughTheDevice) {
    int32_t handle = attachListed({"--type", "5"});
    NettlebeamApiDeviceFeatures wanted{};
    wanted.keepCrcErrors = 1;
    wanted.disablePortB = 7;  // any non-zero value sets a flag
    wanted.packetSlicing = 1;
    wanted.inlineMode = 1;
    wanted.timestamps = 1;
    wanted.forcePpsGeneration = 1;
    wanted.timestampInitSource = 1;
    wanted.ppsOutput = 1;
    wanted.ppsDelay = 0xBEEF;
    wanted.portATimestampOn = 2;
    wanted.portBTimestampOn = 1;
    wanted.configWord0Bit25 = 1;
    wanted.slicingLength = 128;
    ASSERT_EQ(NettlebeamAPISetDeviceFeatures(handle, wanted), 0);

    NettlebeamApiDeviceFeatures read{};
    ASSERT_EQ(NettlebeamAPIGetDeviceFeatures(handle, &read), 0);
    wanted.disablePortB = 1;
    EXPECT_EQ(std::memcmp(&read, &wanted, sizeof(read)), 0);
    auto block = deviceBlock(handle);
    EXPECT_EQ(block[2] & 0x0FFFFF5F, 0x06BEEF49u);
    EXPECT_EQ(block[4], 128u);
}

TEST_F(FeaturesTest, OutOfRangeFieldsLeaveTheDeviceAlone) {
    int32_t handle = attachListed({"--type", "5"});
    auto before = deviceBlock(handle);
    NettlebeamApiDeviceFeatures features{};
    features.keepCrcErrors = 1;
    features.timestampInitSource = 4;
    EXPECT_EQ(NettlebeamAPISetDeviceFeatures(handle, features), -5);
    features.timestampInitSource = 0;
    features.configWord4High = 4;
    EXPECT_EQ(NettlebeamAPISetDeviceFeatures(handle, features), -15);
    EXPECT_EQ(deviceBlock(handle), before);
}

TEST_F(FeaturesTest, TransportFailuresOfTheBlock) {
    int32_t handle = attachListed({"--type", "5"});
    auto before = deviceBlock(handle);
    NettlebeamApiDeviceFeatures features{};
    NettlebeamApiPortsSpeed speeds{};
    inject(handle, kReadConfig, {"--fail"});
    EXPECT_EQ(NettlebeamAPIGetDeviceFeatures(handle, &features), -2);
    inject(handle, kReadConfig, {"--reply-bytes", "31"});
    EXPECT_EQ(NettlebeamAPISetDeviceFeatures(handle, features), 31);
    inject(handle, kReadConfig, {"--fail"});
    EXPECT_EQ(NettlebeamAPISetDevicePortsSpeed(handle, speeds), -2);
    EXPECT_EQ(deviceBlock(handle), before);

    inject(handle, kWriteConfig, {"--fail"});
    EXPECT_EQ(NettlebeamAPISetDevicePortsSpeed(handle, speeds), -1);
    inject(handle, kSaveFeatures, {"--fail"});
    EXPECT_EQ(NettlebeamAPISaveDeviceFeatures(handle), -1);
    EXPECT_EQ(NettlebeamAPISaveDeviceFeatures(handle), 0);
    EXPECT_EQ(NettlebeamAPISaveDeviceFeatures(handle + 100), -4);
}

TEST_F(FeaturesTest, PortSpeedsChangeOnlyTheAdvertisement) {
    int32_t handle = attachListed({"--type", "5"});
    inject(handle, kReadConfig,
           {"--reply-hex", blockHex({0x11, 0xFFFFFFFF, 0x22, 0x33, 0x44, 0x55, 0x66, 0x77})});
    NettlebeamApiPortsSpeed speeds{};
    speeds.ports[1].fullDuplex1000 = 1;
    speeds.ports[0].master = 1;
    ASSERT_EQ(NettlebeamAPISetDevicePortsSpeed(handle, speeds), 0);
    auto block = deviceBlock(handle);
    EXPECT_EQ(block[1], 0xF0F08080u | (1u << 12) | (1u << 13) | (1u << 19));
    EXPECT_EQ(block[0], 0x11u);
    EXPECT_EQ(block[7], 0x77u);

    // One of the two gigabit bits is enough; fields whose bits are clear keep
    // what the caller had in them.
    inject(handle, kReadConfig, {"--reply-hex", blockHex({0, 1u << 13, 0, 0, 0, 0, 0, 0})});
    NettlebeamApiPortsSpeed read{};
    read.ports[0].autoNegotiation = 1;
    ASSERT_EQ(NettlebeamAPIGetDevicePortsSpeed(handle, &read), 0);
    EXPECT_EQ(read.ports[1].fullDuplex1000, 1);
    EXPECT_EQ(read.ports[0].fullDuplex1000, 0);
    EXPECT_EQ(read.ports[0].autoNegotiation, 1);
}

TEST_F(FeaturesTest, RestartMakesTheDeviceLeaveAndComeBack) {
    int32_t handle = attachListed({"--type", "5"});
    inject(handle, kRestart, {"--fail"});
    EXPECT_EQ(NettlebeamAPIRestartDevice(handle), -1);
    ASSERT_EQ(NettlebeamAPIRestartDevice(handle), 0);
    EXPECT_TRUE(eventually([&] { return !isListed(handle); }));
    EXPECT_TRUE(eventually([&] { return isListed(handle); }));
}

}  // namespace
}  // namespace nettlebeam::apitest
