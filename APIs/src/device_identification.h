// Identifying a device when it arrives: its type, its versions and its MAC.
#pragma once

#include <cstdint>
#include <optional>

#include "library_state.h"

namespace nettlebeam::api {

struct Identification {
    uint32_t type = 0;
    StoredVersions versions;
    std::optional<MacAddress> mac;  // read only when asked for
    // Whether every request was answered with its full reply; when not, the
    // values are what the failed requests give (type none, zero versions).
    bool complete = false;
};

// The type comes from the hardware identifier (and, for the identifier shared
// by the ten-gigabit models, from whether a GPS module answers); the versions
// are all zero when the driver does not answer with the full 12 bytes. The
// MAC is read when `withMac` is set.
Identification identifyDevice(int32_t handle, bool withMac);

// Whether the identification describes another device than the record: type,
// versions, or the MAC when both know it (the capability mask follows from
// the type and the versions).
bool differs(const Identification& identification, const DeviceRecord& record);

}  // namespace nettlebeam::api
