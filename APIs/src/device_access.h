// The common start of every per-device export.
#pragma once

#include <cstdint>
#include <optional>

#include "NettlebeamAPI.h"
#include "codec/identity.h"
#include "driver_channel.h"
#include "library_state.h"

namespace nettlebeam::api {

// Whether the handle is listed now; the requests that follow are made without
// the lock, so the device may go meanwhile and the driver then answers for it.
inline bool isKnownDevice(int32_t handle) {
    return Library::instance().isListed(handle);
}

inline std::optional<DeviceIdentity> deviceIdentity(int32_t handle) {
    return Library::instance().identity(handle);
}

// The device's full capability mask; 0 when it is not listed.
inline uint32_t deviceCapabilities(int32_t handle) {
    auto identity = deviceIdentity(handle);
    return identity ? codec::fullCapabilities(identity->type, identity->versions.hwFirmware) : 0;
}

// Handle first (-4), then the capability (-5), from one read of the record: a
// device that goes between two reads must not look like one lacking the
// capability.
inline int32_t checkDeviceCapability(int32_t handle, uint32_t capability) {
    auto identity = deviceIdentity(handle);
    if (!identity) return NETTLEBEAM_STATUS_UNKNOWN_HANDLE;
    if ((codec::fullCapabilities(identity->type, identity->versions.hwFirmware) & capability) == 0)
        return NETTLEBEAM_STATUS_NOT_SUPPORTED;
    return NETTLEBEAM_STATUS_SUCCESS;
}

// A per-device request without payload or reply, by the command rule.
inline int32_t validatedCommand(int32_t handle, uint32_t code) {
    if (!isKnownDevice(handle)) return NETTLEBEAM_STATUS_UNKNOWN_HANDLE;
    return commandStatus(sendCommand(handle, code));
}

}  // namespace nettlebeam::api
