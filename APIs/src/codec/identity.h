// Device identification: hardware identifier to device type, the capability
// masks, the version reply and the names of the firmware images.
#pragma once

#include <cstdint>
#include <optional>
#include <span>

#include "NettlebeamAPI.h"

namespace nettlebeam::codec {

inline constexpr size_t kVersionReplySize = 12;
inline constexpr size_t kExtraInfoReplySize = 64;
inline constexpr size_t kMacAddressSize = 6;

// The identifier whose type depends on the timing status (GPS module or not).
inline constexpr uint8_t kTenGigabitIdentifier = 0x4F;

// Type from the hardware identifier request: `transportResult` is the byte
// count the driver wrote (or -1/-2), `reply` the buffer. Anything but exactly
// one byte gives DeviceTypeNone. For kTenGigabitIdentifier this returns
// DeviceTypeTenGigabitGps; refine it with tenGigabitTypeFromTimingStatus.
NettlebeamApiDeviceType deviceTypeFromIdentifierReply(int32_t transportResult,
                                                      std::span<const uint8_t> reply);

// Type of a kTenGigabitIdentifier device from its timing status request: a
// full reply whose byte 0 is 0xFE, or any failed or short request, means no
// GPS module; a full reply with another byte 0, or an empty reply, means GPS.
NettlebeamApiDeviceType tenGigabitTypeFromTimingStatus(int32_t transportResult,
                                                       std::span<const uint8_t> reply);

// The fixed mask of a type; 0 for values above DeviceTypeGigabitGen4.
NettlebeamApiCapabilities capabilitiesOfType(NettlebeamApiDeviceType type);

// The type's mask plus the bits the hardware firmware version unlocks.
NettlebeamApiCapabilities fullCapabilities(NettlebeamApiDeviceType type,
                                           uint32_t hwFirmwareVersion);

// Versions from the version request; all zero unless the transport result
// is 12 or 0 and `reply` holds 12 bytes.
NettlebeamApiVersions decodeVersionReply(int32_t transportResult, std::span<const uint8_t> reply);

// USB speed from the extra information reply (byte 0 must be 1); nothing
// when the value is absent or the reply is shorter than two bytes.
std::optional<uint8_t> decodeUsbSpeed(std::span<const uint8_t> reply);

// Names of the firmware images a device of this type holds.
NettlebeamApiHwFirmwaresDesc firmwareDescriptions(NettlebeamApiDeviceType type);

}  // namespace nettlebeam::codec
