#include "codec/identity.h"

#include <array>
#include <cstring>

#include "byte_order.h"
#include "device_capabilities.h"

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

// The table lives with the daemon's; the names callers see must match it.
static_assert(wire::kCapabilityCaptureV2 == CapCaptureV2);
static_assert(wire::kCapabilityPacketsTypeFilter == CapPacketsTypeFilter);
static_assert(wire::kFirstProductType == DeviceTypeGigabitGen1);
static_assert(wire::kTenGigabitType == DeviceTypeTenGigabit);
static_assert(wire::kTenGigabitGpsType == DeviceTypeTenGigabitGps);
static_assert(wire::kTypeCapabilities.size() == DeviceTypeGigabitGen4 + 1);

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
    return wire::typeCapabilities(type);
}

NettlebeamApiCapabilities fullCapabilities(NettlebeamApiDeviceType type,
                                           uint32_t hwFirmwareVersion) {
    return wire::deviceCapabilities(type, hwFirmwareVersion);
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
