#include <gtest/gtest.h>

#include <array>
#include <cstring>

#include "codec/identity.h"

namespace nettlebeam::codec {
namespace {

NettlebeamApiDeviceType typeOf(uint8_t identifier) {
    const std::array<uint8_t, 1> reply{identifier};
    return deviceTypeFromIdentifierReply(1, reply);
}

TEST(DeviceType, KnownIdentifiersMapToTheirTypes) {
    EXPECT_EQ(typeOf(0x4A), DeviceTypeBadFirmware);
    EXPECT_EQ(typeOf(0x4B), DeviceTypeGigabitGen1);
    EXPECT_EQ(typeOf(0x4C), DeviceTypeGigabitGen1B);
    EXPECT_EQ(typeOf(0x4D), DeviceTypeGigabitGen2);
    EXPECT_EQ(typeOf(0x4E), DeviceTypeGigabitGen3);
    EXPECT_EQ(typeOf(0x13), DeviceTypeGigabitGen3Poe);
    EXPECT_EQ(typeOf(0x11), DeviceTypeGigabitGen2Poe);
    EXPECT_EQ(typeOf(0x10), DeviceTypeGigabitGen2Gps);
    EXPECT_EQ(typeOf(0x12), DeviceTypeGigabitGen2GpsPoe);
    EXPECT_EQ(typeOf(0x14), DeviceTypeTenGigabitGps);
    EXPECT_EQ(typeOf(0x50), DeviceTypeFastEthernet);
    EXPECT_EQ(typeOf(0x15), DeviceTypeGigabitGen4);
    EXPECT_EQ(typeOf(0x00), DeviceTypeUnknown);
    EXPECT_EQ(typeOf(0xFF), DeviceTypeUnknown);
}

TEST(DeviceType, FailedOrOddIdentifierRequestGivesNone) {
    const std::array<uint8_t, 2> reply{0x4B, 0x4B};
    EXPECT_EQ(deviceTypeFromIdentifierReply(-1, reply), DeviceTypeNone);
    EXPECT_EQ(deviceTypeFromIdentifierReply(-2, reply), DeviceTypeNone);
    EXPECT_EQ(deviceTypeFromIdentifierReply(0, reply), DeviceTypeNone);
    EXPECT_EQ(deviceTypeFromIdentifierReply(2, reply), DeviceTypeNone);
    EXPECT_EQ(deviceTypeFromIdentifierReply(1, {}), DeviceTypeNone);
}

TEST(DeviceType, TenGigabitGpsDependsOnTimingStatus) {
    std::array<uint8_t, 19> status{};
    status[0] = 0xFE;
    EXPECT_EQ(tenGigabitTypeFromTimingStatus(19, status), DeviceTypeTenGigabit);
    status[0] = 0x00;
    EXPECT_EQ(tenGigabitTypeFromTimingStatus(19, status), DeviceTypeTenGigabitGps);
    EXPECT_EQ(tenGigabitTypeFromTimingStatus(-1, status), DeviceTypeTenGigabit);
    EXPECT_EQ(tenGigabitTypeFromTimingStatus(-2, status), DeviceTypeTenGigabit);
    EXPECT_EQ(tenGigabitTypeFromTimingStatus(5, status), DeviceTypeTenGigabit);
    EXPECT_EQ(tenGigabitTypeFromTimingStatus(0, status), DeviceTypeTenGigabitGps);
}

TEST(Capabilities, FirmwareVersionUnlocksBitsOnlyForRealDevices) {
    EXPECT_EQ(fullCapabilities(DeviceTypeTenGigabit, 219), 0x00058AD7u);
    EXPECT_EQ(fullCapabilities(DeviceTypeTenGigabit, 220), 0x00258AD7u);
    EXPECT_EQ(fullCapabilities(DeviceTypeTenGigabit, 300), 0x002D8AD7u);
    EXPECT_EQ(fullCapabilities(DeviceTypeTenGigabitGps, 220), 0x00258ADFu);
    EXPECT_EQ(fullCapabilities(DeviceTypeGigabitGen2, 300), 0x0008C517u);
    EXPECT_EQ(fullCapabilities(DeviceTypeGigabitGen2, 299), 0x0000C517u);
    EXPECT_EQ(fullCapabilities(DeviceTypeGigabitGen2, 5000) & CapPacketsTypeFilter, 0u);
    EXPECT_EQ(fullCapabilities(DeviceTypeGigabitGen1, 300), 0x00088113u);
    EXPECT_EQ(fullCapabilities(DeviceTypeGigabitGen4, 300), 0x000A8517u);
    EXPECT_EQ(fullCapabilities(DeviceTypeNone, 1000), 0u);
    EXPECT_EQ(fullCapabilities(DeviceTypeBadFirmware, 1000), 0x10u);
    EXPECT_EQ(fullCapabilities(DeviceTypeUnknown, 1000), 0x10u);
    EXPECT_EQ(fullCapabilities(15, 1000), 0u);
}

TEST(Capabilities, TypeMasksFollowTheDeviceTable) {
    EXPECT_EQ(capabilitiesOfType(DeviceTypeGigabitGen1B), 0x00008111u);
    EXPECT_EQ(capabilitiesOfType(DeviceTypeGigabitGen3Poe), 0x0000C537u);
    EXPECT_EQ(capabilitiesOfType(DeviceTypeGigabitGen2GpsPoe), 0x0000C53Fu);
    EXPECT_EQ(capabilitiesOfType(DeviceTypeFastEthernet), 0x0000A113u);
    EXPECT_EQ(capabilitiesOfType(15), 0u);
    EXPECT_EQ(capabilitiesOfType(0xFFFFFFFFu), 0u);
    // Only the powered-over-Ethernet types carry CapPoe.
    for (NettlebeamApiDeviceType type = 0; type <= 14; ++type) {
        const bool poe = type == 7 || type == 8 || type == 10;
        EXPECT_EQ((capabilitiesOfType(type) & CapPoe) != 0, poe) << "type " << type;
    }
}

TEST(Versions, ReplyComponentsAreReversedIntoAddressOrder) {
    const std::array<uint8_t, 12> reply{4, 3, 2, 1, 40, 30, 20, 10, 0x2C, 0x01, 0, 0};
    const auto versions = decodeVersionReply(12, reply);
    EXPECT_EQ((std::array<uint8_t, 4>{1, 2, 3, 4}), std::to_array(versions.driverVersion));
    EXPECT_EQ((std::array<uint8_t, 4>{10, 20, 30, 40}), std::to_array(versions.swFirmwareVersion));
    EXPECT_EQ(versions.hwFirmwareVersion, 300u);
    EXPECT_EQ(decodeVersionReply(0, reply).hwFirmwareVersion, 300u);
}

TEST(Versions, FailedOrShortReplyGivesZeros) {
    const std::array<uint8_t, 12> reply{4, 3, 2, 1, 40, 30, 20, 10, 1, 0, 0, 0};
    for (int32_t result : {-1, -2, 11, 13}) {
        const auto versions = decodeVersionReply(result, reply);
        EXPECT_EQ(versions.hwFirmwareVersion, 0u) << result;
        EXPECT_EQ(versions.driverVersion[0], 0) << result;
    }
    EXPECT_EQ(decodeVersionReply(12, std::span(reply).first(11)).hwFirmwareVersion, 0u);
}

TEST(ExtraInfo, SpeedIsReadOnlyWhenPresent) {
    std::array<uint8_t, 64> reply{};
    reply[1] = 3;
    EXPECT_FALSE(decodeUsbSpeed(reply).has_value());
    reply[0] = 1;
    EXPECT_EQ(decodeUsbSpeed(reply), 3);
    EXPECT_FALSE(decodeUsbSpeed(std::span(reply).first(1)).has_value());
}

TEST(FirmwareDescriptions, TenGigabitDevicesHoldTwoImages) {
    for (auto type : {DeviceTypeTenGigabit, DeviceTypeTenGigabitGps}) {
        const auto desc = firmwareDescriptions(type);
        EXPECT_EQ(desc.count, 2);
        EXPECT_STREQ(desc.names[0], "10Gbps firmware");
        EXPECT_STREQ(desc.names[1], "1Gbps firmware");
    }
    const auto desc = firmwareDescriptions(DeviceTypeFastEthernet);
    EXPECT_EQ(desc.count, 1);
    EXPECT_STREQ(desc.names[0], "Default firmware");
    const char zeros[3 * NETTLEBEAM_FIRMWARE_NAME_SIZE] = {};
    EXPECT_EQ(std::memcmp(desc.names[1], zeros, sizeof zeros), 0);
    EXPECT_EQ(std::memchr(desc.names[0], 0, NETTLEBEAM_FIRMWARE_NAME_SIZE) != nullptr, true);
}

}  // namespace
}  // namespace nettlebeam::codec
