// What each device type can do, as capability bits: the library reports
// them to callers and the daemon's devices refuse what their type lacks, so
// both read this one table. The bits have the values of the public header's
// Cap* constants (the library checks that at compile time).
#pragma once

#include <array>
#include <cstdint>

namespace nettlebeam::wire {

inline constexpr uint32_t kCapabilityCaptureV2 = 0x00080000;
inline constexpr uint32_t kCapabilityPacketsTypeFilter = 0x00200000;

// Indexed by device type: 0 none, 1 bad firmware (an update only), 2 unknown
// (likewise), 3 to 14 the products.
inline constexpr std::array<uint32_t, 15> kTypeCapabilities{
    0x00000000, 0x00000010, 0x00000010, 0x00008113, 0x00008111, 0x0000C517, 0x0000C517, 0x0000C537,
    0x0000C537, 0x0000C51F, 0x0000C53F, 0x00058AD7, 0x00058ADF, 0x0000A113, 0x00028517,
};

inline constexpr uint32_t kFirstProductType = 3;
inline constexpr uint32_t kTenGigabitType = 11;
inline constexpr uint32_t kTenGigabitGpsType = 12;

// The mask of the type alone; 0 for a type number no device has.
constexpr uint32_t typeCapabilities(uint32_t type) {
    return type < kTypeCapabilities.size() ? kTypeCapabilities[type] : 0;
}

// The type's mask with what its hardware firmware adds: the packets-type
// filter on ten-gigabit devices from version 220, the second capture format
// on every product from version 300.
constexpr uint32_t deviceCapabilities(uint32_t type, uint32_t hwFirmwareVersion) {
    uint32_t mask = typeCapabilities(type);
    if (type < kFirstProductType || type >= kTypeCapabilities.size()) return mask;
    const bool tenGigabit = type == kTenGigabitType || type == kTenGigabitGpsType;
    if (tenGigabit && hwFirmwareVersion >= 220) mask |= kCapabilityPacketsTypeFilter;
    if (hwFirmwareVersion >= 300) mask |= kCapabilityCaptureV2;
    return mask;
}

}  // namespace nettlebeam::wire
