// Hardware filters: capability checks and the blocks the device receives.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "library_fixture.h"

namespace nettlebeam::apitest {
namespace {

constexpr uint32_t kReadPacketsType = 0xCB202090;
constexpr uint32_t kReadDpi = 0xCB20204C;
constexpr uint32_t kWriteDpi = 0xCB202050;
constexpr uint32_t kSaveDpi = 0xCB202054;
constexpr uint32_t kReadPacketFilter = 0xCB202064;

uint64_t littleEndian64(const std::vector<uint8_t>& bytes) {
    uint64_t value = 0;
    for (size_t i = 0; i < 8 && i < bytes.size(); ++i) value |= uint64_t{bytes[i]} << (8 * i);
    return value;
}

using FiltersTest = LibraryTest;

TEST_F(FiltersTest, PacketTypeFilterNeedsRecentTenGigabitFirmware) {
    int32_t recent = attachListed({"--type", "11", "--hw-fw", "220"});
    int32_t older = daemon().attach({"--type", "11", "--hw-fw", "219"});
    ASSERT_TRUE(eventually([&] { return isListed(older); }));
    NettlebeamApiPacketsTypeFilter filter{};
    EXPECT_EQ(NettlebeamAPISetPacketsTypeFilter(older, filter), -5);
    EXPECT_EQ(NettlebeamAPIGetPacketsTypeFilter(older, &filter), -5);
    EXPECT_EQ(NettlebeamAPISavePacketsTypeFilter(older), -5);
    // An unknown handle has no capabilities either; only saving validates it.
    EXPECT_EQ(NettlebeamAPISetPacketsTypeFilter(recent + 100, filter), -5);
    EXPECT_EQ(NettlebeamAPISavePacketsTypeFilter(recent + 100), -4);

    ASSERT_EQ(NettlebeamAPISetPacketsTypeFilter(recent, filter), 0);
    EXPECT_EQ(littleEndian64(raw(recent, kReadPacketsType, {}, 8)), 0x5FFFFFFF9C000071ull);
    std::memset(filter.flags, 1, sizeof(filter.flags));
    filter.flags[3] = 0;  // TCP
    ASSERT_EQ(NettlebeamAPISetPacketsTypeFilter(recent, filter), 0);
    EXPECT_EQ(littleEndian64(raw(recent, kReadPacketsType, {}, 8)), ~(1ull << 7));

    NettlebeamApiPacketsTypeFilter read{};
    ASSERT_EQ(NettlebeamAPIGetPacketsTypeFilter(recent, &read), 0);
    EXPECT_EQ(std::memcmp(&read, &filter, sizeof(read)), 0);
    EXPECT_EQ(NettlebeamAPISavePacketsTypeFilter(recent), 0);
}

TEST_F(FiltersTest, DpiFilterBlock) {
    int32_t handle = attachListed({"--type", "11"});
    int32_t noFilters = daemon().attach({"--type", "5"});
    ASSERT_TRUE(eventually([&] { return isListed(noFilters); }));
    NettlebeamApiDpiFilter filter{};
    EXPECT_EQ(NettlebeamAPISetDpiFilter(noFilters, filter), -5);
    EXPECT_EQ(NettlebeamAPIGetDpiFilter(handle + 100, &filter), -4);

    filter.enabled = 2;  // only exactly 1 switches the filter on
    std::memcpy(filter.pattern, "GET /index.html", 15);
    filter.mask = 0x0000FFFF;
    ASSERT_EQ(NettlebeamAPISetDpiFilter(handle, filter), 0);
    auto block = raw(handle, kReadDpi, {}, 224);
    ASSERT_EQ(block.size(), 224u);
    EXPECT_EQ(std::memcmp(block.data(), "GET /index.html", 15), 0);
    EXPECT_EQ(std::vector<uint8_t>(block.begin() + 32, block.begin() + 36),
              (std::vector<uint8_t>{0xFF, 0xFF, 0, 0}));
    EXPECT_EQ(block[216], 1);
    EXPECT_EQ(block[220], 0);

    filter.enabled = 1;
    ASSERT_EQ(NettlebeamAPISetDpiFilter(handle, filter), 0);
    NettlebeamApiDpiFilter read{};
    ASSERT_EQ(NettlebeamAPIGetDpiFilter(handle, &read), 0);
    EXPECT_EQ(std::memcmp(&read, &filter, sizeof(read)), 0);

    inject(handle, kWriteDpi, {"--fail"});
    EXPECT_EQ(NettlebeamAPISetDpiFilter(handle, filter), -2);
    inject(handle, kReadDpi, {"--reply-bytes", "100"});
    EXPECT_EQ(NettlebeamAPIGetDpiFilter(handle, &read), 100);
    inject(handle, kSaveDpi, {"--fail"});
    EXPECT_EQ(NettlebeamAPISaveDpiFilter(handle), -1);
}

TEST_F(FiltersTest, PacketFilterKeepsTheCallersSpareBits) {
    int32_t handle = attachListed({"--type", "12"});
    NettlebeamApiPacketFilter filter{};
    filter.enabled = 1;
    filter.fieldFlags = NETTLEBEAM_FILTER_DST_IP | NETTLEBEAM_FILTER_DST_PORT;
    filter.eitherDirection = NETTLEBEAM_FILTER_EITHER_IP;
    filter.dstIp[3] = 192;
    filter.dstIp[0] = 7;
    filter.dstPort = 443;
    filter.careMaskLow = 0x0FFFFFFF;
    filter.careMaskHigh = 0x000FFFFF;
    ASSERT_EQ(NettlebeamAPISetPacketFilter(handle, filter), 0);
    auto block = raw(handle, kReadPacketFilter, {}, 248);
    ASSERT_EQ(block.size(), 248u);
    EXPECT_EQ(std::vector<uint8_t>(block.begin() + 56, block.begin() + 62),
              std::vector<uint8_t>(6, 0xFF));
    EXPECT_EQ(block[4], 1);
    EXPECT_EQ(block[20], 7);
    EXPECT_EQ(block[52] | block[53] << 8, 443);

    NettlebeamApiPacketFilter read{};
    read.careMaskHigh = 0xFFF00000;
    read.careMaskLow = 0xF0000000;
    ASSERT_EQ(NettlebeamAPIGetPacketFilter(handle, &read), 0);
    EXPECT_EQ(read.careMaskHigh, 0xFFFFFFFFu);
    EXPECT_EQ(read.careMaskLow, 0xFFFFFFFFu);
    EXPECT_EQ(read.dstPort, 443);
    EXPECT_EQ(read.fieldFlags, filter.fieldFlags);
    EXPECT_EQ(read.eitherDirection, filter.eitherDirection);
    EXPECT_EQ(std::memcmp(read.dstIp, filter.dstIp, 16), 0);
}

}  // namespace
}  // namespace nettlebeam::apitest
