// Memory capture reads through the ring the driver shares (capture_ring.h in
// APIs/wire): the data request without a round trip to the driver.
#pragma once

#include <cstdint>
#include <optional>

namespace nettlebeam::api {

// Reads whole packet blocks of the device's running memory capture into
// `buffer` (at most `*size` bytes) from the shared ring, mapping it first
// when needed. Returns the export's status with `*size` set as the data
// request would set it, or nothing when no shared ring serves the device (no
// capture runs, the driver does not share it, or mapping failed): the caller
// then asks the driver with the data request.
std::optional<int32_t> readSharedMemoryCapture(int32_t handle, void* buffer, int32_t* size);

// Drops the device's mapping; the next read asks the driver afresh.
void forgetSharedMemoryCapture(int32_t handle);
// Drops every mapping (the library shuts down).
void forgetAllSharedMemoryCaptures();

}  // namespace nettlebeam::api
