// The public header's record layouts, checked at compile time, and the
// constants that callers and stored settings rely on, checked when run.
#include <gtest/gtest.h>

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <type_traits>

#include "NettlebeamAPI.h"

#define EXPECT_RECORD_SIZE(type, size) \
    static_assert(sizeof(type) == (size), #type " has the wrong size");
#define EXPECT_FIELD_AT(type, field, offset) \
    static_assert(offsetof(type, field) == (offset), #type "." #field " is misplaced");

#if UINTPTR_MAX > 0xFFFFFFFFu
#include "layout_expectations.inc"
#endif

static_assert(std::is_same_v<NettlebeamApiChar16, char16_t>);
static_assert(std::is_standard_layout_v<NettlebeamApiLinkStatus>);
static_assert(std::is_trivially_copyable_v<NettlebeamApiStatistics>);

namespace {

TEST(PublicHeader, InterfaceVersionIsStoredLowestComponentFirst) {
    const uint32_t version = NETTLEBEAM_API_INTERFACE_VERSION;
    uint8_t bytes[4];
    std::memcpy(bytes, &version, sizeof bytes);
    EXPECT_EQ(bytes[0], 2);
    EXPECT_EQ(bytes[1], 3);
    EXPECT_EQ(bytes[2], 19);
    EXPECT_EQ(bytes[3], 0);
}

TEST(PublicHeader, CapabilityBitsSitAtTheirPositions) {
    const struct {
        uint32_t value;
        int bit;
    } bits[] = {
        {CapDeviceControl, 0},
        {CapPortSpeedSelect, 2},
        {CapTiming, 3},
        {CapFirmwareUpdate, 4},
        {CapPoe, 5},
        {CapSfp, 6},
        {CapPacketFilter, 7},
        {CapStatisticsV1, 8},
        {CapStatisticsV2, 9},
        {CapPerPortLinkStatus, 10},
        {CapLoopback, 11},
        {CapFastEthernetSpeed, 13},
        {CapCapture, 15},
        {CapPacketSlicing, 16},
        {CapFirmwareSelection, 18},
        {CapCaptureV2, 19},
        {CapPacketsTypeFilter, 21},
    };
    uint32_t seen = 0;
    for (const auto& entry : bits) {
        EXPECT_EQ(entry.value, 1u << entry.bit) << "bit " << entry.bit;
        EXPECT_EQ(seen & entry.value, 0u) << "bit " << entry.bit << " used twice";
        seen |= entry.value;
    }
}

TEST(PublicHeader, StatusCodesKeepTheirValues) {
    // Programs compare with these numbers and print them; they must not move.
    EXPECT_EQ(NETTLEBEAM_STATUS_UNKNOWN_HANDLE, -4);
    EXPECT_EQ(NETTLEBEAM_STATUS_NOT_SUPPORTED, -5);
    EXPECT_EQ(NETTLEBEAM_STATUS_CAPTURE_ERROR_1, -6);
    EXPECT_EQ(NETTLEBEAM_STATUS_CAPTURE_ERROR_16, -9);
    EXPECT_EQ(NETTLEBEAM_STATUS_BUFFER_TOO_SMALL, -10);
    EXPECT_EQ(NETTLEBEAM_STATUS_UPDATE_ALREADY_RUNNING, -12);
    EXPECT_EQ(NETTLEBEAM_STATUS_INVALID_VALUE, -15);
    EXPECT_EQ(NETTLEBEAM_STATUS_NO_UPDATE_STARTED, -16);
    EXPECT_EQ(DeviceTypeGigabitGen4, 14);
    EXPECT_EQ(DeviceTypeTenGigabitGps, 12);
    EXPECT_EQ(NETTLEBEAM_MEMORY_CAPTURE_MIN_BUFFER, 524288);
}

TEST(PublicHeader, StatisticsFormatsShareTheirHeader) {
    // Both formats begin right behind swDropped and end with the trailer.
    NettlebeamApiStatistics stats{};
    const auto* base = reinterpret_cast<const uint8_t*>(&stats);
    EXPECT_EQ(reinterpret_cast<const uint8_t*>(&stats.data.v1) - base, 24);
    EXPECT_EQ(reinterpret_cast<const uint8_t*>(&stats.data.v1.trailer) + 16 - base,
              static_cast<std::ptrdiff_t>(sizeof stats));
}

}  // namespace
