// Identifying a device when it arrives: its type and its versions.
#pragma once

#include <cstdint>

#include "library_state.h"

namespace nettlebeam::api {

// The device type from the hardware identifier (and, for the identifier shared
// by the ten-gigabit models, from whether a GPS module answers).
uint32_t detectDeviceType(int32_t handle);

// The versions as the record keeps them; all zero when the driver does not
// answer with the full 12 bytes (or with 0 bytes).
StoredVersions readStoredVersions(int32_t handle);

}  // namespace nettlebeam::api
