#include <gtest/gtest.h>

#include <array>
#include <cstring>

#include "byte_order.h"
#include "codec/filters.h"

namespace nettlebeam::codec {
namespace {

TEST(PacketsTypeFilter, UnselectedClassesClearOnlyTheirBits) {
    NettlebeamApiPacketsTypeFilter none{};
    EXPECT_EQ(encodePacketsTypeWord(none), 0x5FFFFFFF9C000071ull);
    NettlebeamApiPacketsTypeFilter all;
    std::memset(all.flags, 1, sizeof all.flags);
    EXPECT_EQ(encodePacketsTypeWord(all), ~0ull);

    NettlebeamApiPacketsTypeFilter quic{};
    quic.flags[23] = 0x80;  // any non-zero value selects
    EXPECT_EQ(encodePacketsTypeWord(quic), 0x5FFFFFFF9C000071ull | (1ull << 30));
    const auto block = encodePacketsTypeBlock(quic);
    EXPECT_EQ(wire::readLe64(block, 0), encodePacketsTypeWord(quic));
}

TEST(PacketsTypeFilter, EachFlagRoundTripsAlone) {
    for (size_t i = 0; i < NETTLEBEAM_PACKET_TYPE_CLASSES; ++i) {
        NettlebeamApiPacketsTypeFilter filter{};
        filter.flags[i] = 1;
        const auto decoded = decodePacketsTypeBlock(encodePacketsTypeBlock(filter));
        ASSERT_TRUE(decoded.has_value());
        EXPECT_EQ(std::memcmp(decoded->flags, filter.flags, sizeof filter.flags), 0) << i;
    }
    const std::array<uint8_t, 7> shortReply{};
    EXPECT_FALSE(decodePacketsTypeBlock(shortReply).has_value());
}

TEST(DpiFilter, BlockLayoutAndEnableRule) {
    NettlebeamApiDpiFilter filter{};
    filter.enabled = 2;  // only exactly 1 enables
    filter.mask = 0x0000FFFF;
    for (size_t i = 0; i < 32; ++i) filter.pattern[i] = static_cast<uint8_t>(i + 1);
    auto block = encodeDpiBlock(filter);
    EXPECT_EQ(block[0], 1);
    EXPECT_EQ(block[31], 32);
    EXPECT_EQ((std::array<uint8_t, 4>{block[32], block[33], block[34], block[35]}),
              (std::array<uint8_t, 4>{0xFF, 0xFF, 0x00, 0x00}));
    for (size_t i = 36; i < 216; ++i) ASSERT_EQ(block[i], 0) << i;
    EXPECT_EQ(wire::readLe32(block, 216), 1u);
    EXPECT_EQ(wire::readLe32(block, 220), 0u);

    filter.enabled = 1;
    block = encodeDpiBlock(filter);
    EXPECT_EQ(wire::readLe32(block, 220), 1u);
    const auto decoded = decodeDpiBlock(block);
    ASSERT_TRUE(decoded.has_value());
    EXPECT_EQ(std::memcmp(&*decoded, &filter, sizeof filter), 0);
    EXPECT_FALSE(decodeDpiBlock(std::span(block).first(223)).has_value());
}

NettlebeamApiPacketFilter sampleFilter() {
    NettlebeamApiPacketFilter f{};
    f.enabled = 1;
    f.fieldFlags = 0x7F;
    f.eitherDirection = 0x5;
    for (uint8_t i = 0; i < 6; ++i) {
        f.dstMac[i] = static_cast<uint8_t>(0x10 + i);
        f.srcMac[i] = static_cast<uint8_t>(0x20 + i);
    }
    for (uint8_t i = 0; i < 16; ++i) {
        f.dstIp[i] = static_cast<uint8_t>(0x30 + i);
        f.srcIp[i] = static_cast<uint8_t>(0x50 + i);
    }
    f.dstPort = 443;
    f.srcPort = 0xBEEF;
    f.careMaskLow = 0x0ABCDEF1;
    f.careMaskHigh = 0x000F1234;
    return f;
}

TEST(PacketFilter, BlockLayout) {
    const auto block = encodePacketFilterBlock(sampleFilter());
    EXPECT_EQ(wire::readLe32(block, 0), 1u);
    EXPECT_EQ(wire::readLe32(block, 4), 1u);
    EXPECT_EQ(block[8], 0x10);
    EXPECT_EQ(block[19], 0x25);
    EXPECT_EQ(block[20], 0x30);
    EXPECT_EQ(block[51], 0x5F);
    EXPECT_EQ(wire::readLe16(block, 52), 443);
    EXPECT_EQ(wire::readLe16(block, 54), 0xBEEF);
    uint64_t care = 0;
    for (size_t i = 0; i < 6; ++i) care |= static_cast<uint64_t>(block[56 + i]) << (8 * i);
    EXPECT_EQ(care, 0x0ABCDEF1ull | (0xF1234ull << 28));
    EXPECT_EQ(wire::readLe16(block, 62), 0x5);
    EXPECT_EQ(wire::readLe32(block, 64), 0x7Fu);
    for (size_t i = 68; i < block.size(); ++i) ASSERT_EQ(block[i], 0) << i;
}

TEST(PacketFilter, FullCareMaskAndCallerBits) {
    NettlebeamApiPacketFilter f{};
    f.careMaskLow = 0xFFFFFFFF;  // bits above the mask must not leak into the block
    f.careMaskHigh = 0xFFFFFFFF;
    f.enabled = 5;
    const auto block = encodePacketFilterBlock(f);
    for (size_t i = 56; i < 62; ++i) EXPECT_EQ(block[i], 0xFF) << i;
    EXPECT_EQ(wire::readLe16(block, 62), 0);
    EXPECT_EQ(wire::readLe32(block, 4), 0u);

    NettlebeamApiPacketFilter target{};
    target.careMaskLow = 0xF0000000;
    target.careMaskHigh = 0xFFF00000;
    ASSERT_TRUE(decodePacketFilterBlock(block, target));
    EXPECT_EQ(target.careMaskLow, 0xFFFFFFFFu);
    EXPECT_EQ(target.careMaskHigh, 0xFFFFFFFFu);

    std::array<uint8_t, kPacketFilterBlockSize> empty{};
    ASSERT_TRUE(decodePacketFilterBlock(empty, target));
    EXPECT_EQ(target.careMaskLow, 0xF0000000u);
    EXPECT_EQ(target.careMaskHigh, 0xFFF00000u);
}

TEST(PacketFilter, RoundTripAndShortReply) {
    const auto original = sampleFilter();
    NettlebeamApiPacketFilter decoded{};
    ASSERT_TRUE(decodePacketFilterBlock(encodePacketFilterBlock(original), decoded));
    EXPECT_EQ(std::memcmp(&decoded, &original, sizeof original), 0);

    NettlebeamApiPacketFilter untouched{};
    const auto block = encodePacketFilterBlock(original);
    EXPECT_FALSE(decodePacketFilterBlock(std::span(block).first(247), untouched));
    EXPECT_EQ(untouched.dstPort, 0);
}

}  // namespace
}  // namespace nettlebeam::codec
