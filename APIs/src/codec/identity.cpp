#include "codec/identity.h"

#include <array>
#include <cstring>

#include "byte_order.h"

namespace nettlebeam::codec {
namespace {

struct IdentifierType {
    uint8_t identifier;
    NettlebeamApiDeviceType type;
};

constexpr std::array<IdentifierType, 13> kIdentifierTypes{{
    {0x4A, DeviceTypeBadFirmware},
    {0x4B, DeviceTypeGigabitGen1},
    {0x4C, DeviceTypeGigabitGen1B},
    {0x4D, DeviceTypeGigabitGen2},
    {0x4E, DeviceTypeGigabitGen3},
    {0x13, DeviceTypeGigabitGen3Poe},
    {0x11, DeviceTypeGigabitGen2Poe},
    {0x10, DeviceTypeGigabitGen2Gps},
    {0x12, DeviceTypeGigabitGen2GpsPoe},
    {kTenGigabitIdentifier, DeviceTypeTenGigabitGps},
    {0x14, DeviceTypeTenGigabitGps},
    {0x50, DeviceTypeFastEthernet},
    {0x15, DeviceTypeGigabitGen4},
}};

// Indexed by device type.
constexpr std::array<NettlebeamApiCapabilities, 15> kTypeCapabilities{
    0x00000000, 0x00000010, 0x00000010, 0x00008113, 0x00008111, 0x0000C517, 0x0000C517, 0x0000C537,
    0x0000C537, 0x0000C51F, 0x0000C53F, 0x00058AD7, 0x00058ADF, 0x0000A113, 0x00028517,
};

constexpr uint8_t kNoGpsModuleMarker = 0xFE;
constexpr size_t kTimingStatusReplySize = 19;

void copyName(char (&slot)[NETTLEBEAM_FIRMWARE_NAME_SIZE], const char* name) {
    std::strncpy(slot, name, NETTLEBEAM_FIRMWARE_NAME_SIZE);
}

}  // namespace

NettlebeamApiDeviceType deviceTypeFromIdentifierReply(int32_t transportResult,
                                                      std::span<const uint8_t> reply) {
    if (transportResult != 1 || reply.empty()) return DeviceTypeNone;
    for (const auto& entry : kIdentifierTypes) {
        if (entry.identifier == reply[0]) return entry.type;
    }
    return DeviceTypeUnknown;
}

NettlebeamApiDeviceType tenGigabitTypeFromTimingStatus(int32_t transportResult,
                                                       std::span<const uint8_t> reply) {
    if (transportResult == 0) return DeviceTypeTenGigabitGps;
    if (transportResult == static_cast<int32_t>(kTimingStatusReplySize) && !reply.empty() &&
        reply[0] != kNoGpsModuleMarker) {
        return DeviceTypeTenGigabitGps;
    }
    return DeviceTypeTenGigabit;
}

NettlebeamApiCapabilities capabilitiesOfType(NettlebeamApiDeviceType type) {
    return type < kTypeCapabilities.size() ? kTypeCapabilities[type] : 0;
}

NettlebeamApiCapabilities fullCapabilities(NettlebeamApiDeviceType type,
                                           uint32_t hwFirmwareVersion) {
    NettlebeamApiCapabilities mask = capabilitiesOfType(type);
    if (type < DeviceTypeGigabitGen1 || type > DeviceTypeGigabitGen4) return mask;
    const bool tenGigabit = type == DeviceTypeTenGigabit || type == DeviceTypeTenGigabitGps;
    if (tenGigabit && hwFirmwareVersion >= 220) mask |= CapPacketsTypeFilter;
    if (hwFirmwareVersion >= 300) mask |= CapCaptureV2;
    return mask;
}

NettlebeamApiVersions decodeVersionReply(int32_t transportResult, std::span<const uint8_t> reply) {
    NettlebeamApiVersions versions{};
    const bool accepted =
        transportResult == static_cast<int32_t>(kVersionReplySize) || transportResult == 0;
    if (!accepted || reply.size() < kVersionReplySize) return versions;
    // The driver sends each four-part version last component first.
    for (size_t i = 0; i < 4; ++i) {
        versions.driverVersion[i] = reply[3 - i];
        versions.swFirmwareVersion[i] = reply[7 - i];
    }
    versions.hwFirmwareVersion = wire::readLe32(reply, 8);
    return versions;
}

std::optional<uint8_t> decodeUsbSpeed(std::span<const uint8_t> reply) {
    if (reply.size() < 2 || reply[0] != 1) return std::nullopt;
    return reply[1];
}

NettlebeamApiHwFirmwaresDesc firmwareDescriptions(NettlebeamApiDeviceType type) {
    NettlebeamApiHwFirmwaresDesc desc{};
    if (type == DeviceTypeTenGigabit || type == DeviceTypeTenGigabitGps) {
        desc.count = 2;
        copyName(desc.names[0], "10Gbps firmware");
        copyName(desc.names[1], "1Gbps firmware");
    } else {
        desc.count = 1;
        copyName(desc.names[0], "Default firmware");
    }
    return desc;
}

}  // namespace nettlebeam::codec
