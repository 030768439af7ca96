// Timing: setting the device's time, its timing status and the GPS output.
#include "codec/timing.h"

#include <array>

#include "NettlebeamAPI.h"
#include "device_access.h"
#include "driver_channel.h"
#include "export_guard.h"
#include "request_codes.h"

namespace api = nettlebeam::api;
namespace codec = nettlebeam::codec;
namespace code = nettlebeam::wire::code;

namespace {

int32_t checkTimingAccess(int32_t handle) {
    return api::checkDeviceCapability(handle, CapTiming);
}

}  // namespace

extern "C" {

int32_t NettlebeamAPISetTimingTime(NettlebeamApiDeviceHandle handle, NettlebeamApiTimingTime time) {
    return api::guardedExport([&]() -> int32_t {
        if (int32_t status = checkTimingAccess(handle); status != 0) return status;
        auto block = codec::encodeTimingTime(time);
        if (!block) return NETTLEBEAM_STATUS_NOT_SUPPORTED;
        return api::passThroughStatus(
            api::sendCommand(handle, code::kSetTimingTime, block->data(), block->size()));
    });
}

// No capability is needed: the status also tells whether a GPS module is fitted.
int32_t NettlebeamAPIGetTimingStatus(NettlebeamApiDeviceHandle handle,
                                     NettlebeamApiTimingStatus* status) {
    return api::guardedExport([&]() -> int32_t {
        auto identity = api::deviceIdentity(handle);
        if (!identity) return NETTLEBEAM_STATUS_UNKNOWN_HANDLE;
        if (status == nullptr) return NETTLEBEAM_STATUS_FAILED;
        std::array<uint8_t, codec::kTimingStatusSize> reply{};
        int32_t result =
            api::sendRequest(handle, code::kTimingStatus, nullptr, 0, reply.data(), reply.size());
        if (!api::isExactReply(result, codec::kTimingStatusSize)) return result;
        if (auto decoded = codec::decodeTimingStatus(reply, identity->versions.hwFirmware))
            *status = *decoded;
        return NETTLEBEAM_STATUS_SUCCESS;
    });
}

// Failures are told apart as no driver (-4) or a failed request (-5), as the
// programs that read the receiver's output expect.
int32_t NettlebeamAPIGPSOutputRead(NettlebeamApiDeviceHandle handle, void* buffer,
                                   int32_t bufferSize, int32_t* lengthRead) {
    return api::guardedExport([&]() -> int32_t {
        if (int32_t status = checkTimingAccess(handle); status != 0) return status;
        if (lengthRead == nullptr || (buffer == nullptr && bufferSize > 0) || bufferSize < 0)
            return NETTLEBEAM_STATUS_FAILED;
        int32_t result = api::sendRequest(handle, code::kGpsOutputRead, nullptr, 0, buffer,
                                          static_cast<uint32_t>(bufferSize));
        if (result < 0) {
            *lengthRead = 0;
            return result == api::kTransportCannotOpen ? NETTLEBEAM_STATUS_UNKNOWN_HANDLE
                                                       : NETTLEBEAM_STATUS_NOT_SUPPORTED;
        }
        *lengthRead = result;
        return NETTLEBEAM_STATUS_SUCCESS;
    });
}

int32_t NettlebeamAPIGPSOutputFlush(NettlebeamApiDeviceHandle handle) {
    return api::guardedExport([&]() -> int32_t {
        if (int32_t status = checkTimingAccess(handle); status != 0) return status;
        return api::commandStatus(api::sendCommand(handle, code::kGpsOutputFlush));
    });
}

}  // extern "C"
