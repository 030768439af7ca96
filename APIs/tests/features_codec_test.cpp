#include <gtest/gtest.h>

#include <array>
#include <cstring>

#include "codec/features.h"

namespace nettlebeam::codec {
namespace {

ConfigBlock allOnes() {
    ConfigBlock block;
    block.words.fill(0xFFFFFFFF);
    return block;
}

NettlebeamApiDeviceFeatures allClear() {
    NettlebeamApiDeviceFeatures f{};
    f.timestampInitSource = 3;
    return f;
}

TEST(ConfigBlock, BytesAreLittleEndianWords) {
    std::array<uint8_t, 32> bytes{};
    bytes[0] = 0x01;
    bytes[7] = 0x80;
    bytes[31] = 0xAB;
    const auto block = parseConfigBlock(bytes);
    ASSERT_TRUE(block.has_value());
    EXPECT_EQ(block->words[0], 1u);
    EXPECT_EQ(block->words[1], 0x80000000u);
    EXPECT_EQ(block->words[7], 0xAB000000u);
    EXPECT_EQ(serializeConfigBlock(*block), bytes);
    EXPECT_FALSE(parseConfigBlock(std::span(bytes).first(31)).has_value());
}

TEST(Features, ClearingEveryFeatureTouchesOnlyFeatureBits) {
    ConfigBlock block = allOnes();
    ASSERT_EQ(applyFeatures(block, allClear()), 0);
    EXPECT_EQ(block.words[0], 0xFCE7FF94u);
    EXPECT_EQ(block.words[1], 0xEFFFFFFFu);
    EXPECT_EQ(block.words[2], 0xF00000A0u);
    EXPECT_EQ(block.words[3], 0xFFFFFFFFu);
    EXPECT_EQ(block.words[4], 0u);
    for (size_t i = 5; i < 8; ++i) EXPECT_EQ(block.words[i], 0xFFFFFFFFu);
}

TEST(Features, EveryFieldRoundTripsThroughTheBlock) {
    NettlebeamApiDeviceFeatures f{};
    f.keepCrcErrors = 1;
    f.keepCrc32 = 1;
    f.disablePortA = 1;
    f.disablePortB = 0;
    f.packetSlicing = 1;
    f.inlineMode = 1;
    f.loopback = 1;
    f.timestamps = 1;
    f.syncTimestamps = 1;
    f.forcePpsGeneration = 1;
    f.waitForSync = 1;
    f.ppsOutput = 1;
    f.ppsDelay = 0xBEEF;
    f.portATimestampOn = 2;
    f.portBTimestampOn = 1;
    f.configWord0Bit25 = 1;
    f.slicingLength = 1500;
    f.configWord4High = 3;
    for (int32_t source = 0; source <= 3; ++source) {
        f.timestampInitSource = source;
        ConfigBlock block;
        ASSERT_EQ(applyFeatures(block, f), 0);
        const auto back = featuresFromBlock(block);
        EXPECT_EQ(std::memcmp(&back, &f, sizeof f), 0) << "source " << source;
    }
}

TEST(Features, NonZeroFlagsCountAsSetAndReadBackAsOne) {
    NettlebeamApiDeviceFeatures f = allClear();
    f.keepCrcErrors = -7;
    f.loopback = 42;
    ConfigBlock block;
    ASSERT_EQ(applyFeatures(block, f), 0);
    EXPECT_EQ(block.words[0], (1u << 0) | (1u << 24));
    const auto back = featuresFromBlock(block);
    EXPECT_EQ(back.keepCrcErrors, 1);
    EXPECT_EQ(back.loopback, 1);
}

TEST(Features, TimingCodesDecode) {
    ConfigBlock block;
    const std::array<std::pair<uint32_t, int32_t>, 8> sources{
        {{0x00, 3}, {0x04, 2}, {0x08, 1}, {0x0C, 0}, {0x10, 3}, {0x14, 3}, {0x18, 3}, {0x1C, 3}}};
    for (auto [code, expected] : sources) {
        block.words[2] = code;
        EXPECT_EQ(featuresFromBlock(block).timestampInitSource, expected) << code;
    }
    block.words[2] = (3u << 24) | (3u << 26);
    EXPECT_EQ(featuresFromBlock(block).portATimestampOn, 0);
    EXPECT_EQ(featuresFromBlock(block).portBTimestampOn, 0);
    block.words[2] = (1u << 24) | (2u << 26);
    EXPECT_EQ(featuresFromBlock(block).portATimestampOn, 1);
    EXPECT_EQ(featuresFromBlock(block).portBTimestampOn, 2);
}

TEST(Features, OutOfRangeValuesLeaveTheBlockUnchanged) {
    const ConfigBlock original = allOnes();
    ConfigBlock block = original;
    auto f = allClear();
    f.timestampInitSource = 4;
    EXPECT_EQ(applyFeatures(block, f), NETTLEBEAM_STATUS_NOT_SUPPORTED);
    f.timestampInitSource = -1;
    EXPECT_EQ(applyFeatures(block, f), NETTLEBEAM_STATUS_NOT_SUPPORTED);
    f = allClear();
    f.configWord4High = 4;
    EXPECT_EQ(applyFeatures(block, f), NETTLEBEAM_STATUS_INVALID_VALUE);
    EXPECT_EQ(block.words, original.words);
}

TEST(Features, UnknownTimestampPointsWriteNothing) {
    auto f = allClear();
    f.portATimestampOn = 3;
    f.portBTimestampOn = -1;
    ConfigBlock block;
    ASSERT_EQ(applyFeatures(block, f), 0);
    EXPECT_EQ(block.words[2] & 0x0F000000u, 0u);
}

TEST(PortsSpeed, FullDuplex1000UsesTwoBitsPerPort) {
    NettlebeamApiPortsSpeed speeds{};
    speeds.ports[1].fullDuplex1000 = 1;
    ConfigBlock block;
    applyPortsSpeed(block, speeds);
    EXPECT_EQ(block.words[1], (1u << 12) | (1u << 13));

    block.words[1] = 1u << 13;
    NettlebeamApiPortsSpeed read{};
    readPortsSpeed(block, read);
    EXPECT_EQ(read.ports[1].fullDuplex1000, 1);
    EXPECT_EQ(read.ports[0].fullDuplex1000, 0);
}

TEST(PortsSpeed, EachFieldHasItsOwnBitOnEachPort) {
    const std::array<std::pair<int32_t NettlebeamApiPortSpeed::*, unsigned>, 9> single{{
        {&NettlebeamApiPortSpeed::autoNegotiation, 6},
        {&NettlebeamApiPortSpeed::fullDuplex100, 3},
        {&NettlebeamApiPortSpeed::halfDuplex100, 2},
        {&NettlebeamApiPortSpeed::fullDuplex10, 1},
        {&NettlebeamApiPortSpeed::halfDuplex10, 0},
        {&NettlebeamApiPortSpeed::asymmetricPause, 17},
        {&NettlebeamApiPortSpeed::symmetricPause, 16},
        {&NettlebeamApiPortSpeed::master, 19},
        {&NettlebeamApiPortSpeed::forceMasterSlave, 18},
    }};
    for (auto [field, bit] : single) {
        for (unsigned port = 0; port < 2; ++port) {
            NettlebeamApiPortsSpeed speeds{};
            speeds.ports[port].*field = 1;
            ConfigBlock block;
            applyPortsSpeed(block, speeds);
            EXPECT_EQ(block.words[1], 1u << (bit + 8 * port)) << "bit " << bit << " port " << port;
            NettlebeamApiPortsSpeed read{};
            readPortsSpeed(block, read);
            EXPECT_EQ(std::memcmp(&read, &speeds, sizeof read), 0);
        }
    }
}

TEST(PortsSpeed, SettersKeepEachOthersBits) {
    ConfigBlock block = allOnes();
    applyPortsSpeed(block, NettlebeamApiPortsSpeed{});
    EXPECT_EQ(block.words[1], 0xF0F08080u);  // timestamps bit 28 survives
    for (size_t i : {0u, 2u, 3u, 4u, 5u, 6u, 7u}) EXPECT_EQ(block.words[i], 0xFFFFFFFFu);

    block = allOnes();
    ASSERT_EQ(applyFeatures(block, allClear()), 0);
    EXPECT_EQ(block.words[1] & 0x0FFFFFFFu, 0x0FFFFFFFu);  // advertisement untouched
}

TEST(PortsSpeed, ClearBitsLeaveTheCallersValues) {
    NettlebeamApiPortsSpeed speeds{};
    speeds.ports[0].master = 1;
    ConfigBlock block;
    readPortsSpeed(block, speeds);
    EXPECT_EQ(speeds.ports[0].master, 1);
}

}  // namespace
}  // namespace nettlebeam::codec
