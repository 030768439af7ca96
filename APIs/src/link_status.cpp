// Link status: what a device can tell about its ports depends on its hardware.
#include "codec/link_status.h"

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

// Reads a one-byte status. A failed request is returned as its status rather
// than decoded: the byte would be meaningless.
int32_t readStatusByte(int32_t handle, uint32_t code, uint8_t& byte) {
    byte = 0;
    int32_t result = api::sendRequest(handle, code, nullptr, 0, &byte, 1);
    return result < 0 || result > 1 ? result : NETTLEBEAM_STATUS_SUCCESS;
}

int32_t readGigabitCopper(int32_t handle, NettlebeamApiLinkStatus& status) {
    uint8_t byte = 0;
    if (int32_t r = readStatusByte(handle, code::kPortSpeedByte, byte); r != 0) return r;
    NettlebeamApiDeviceFeatures features{};
    if (int32_t r = NettlebeamAPIGetDeviceFeatures(handle, &features); r != 0) return r;
    codec::decodeGigabitPortSpeedByte(byte, features.inlineMode == 1, status);

    std::array<uint8_t, codec::kLinkDetailsSize> details{};
    int32_t result =
        api::sendRequest(handle, code::kLinkDetails, nullptr, 0, details.data(), details.size());
    if (!api::isExactReply(result, codec::kLinkDetailsSize)) return result;
    codec::decodeLinkDetails(details, status);
    return NETTLEBEAM_STATUS_SUCCESS;
}

int32_t readFastEthernet(int32_t handle, NettlebeamApiLinkStatus& status) {
    uint8_t byte = 0;
    if (int32_t r = readStatusByte(handle, code::kPortSpeedByte, byte); r != 0) return r;
    codec::decodeFastEthernetPortSpeedByte(byte, status);
    return NETTLEBEAM_STATUS_SUCCESS;
}

int32_t readTransceivers(int32_t handle, NettlebeamApiLinkStatus& status) {
    std::array<uint8_t, codec::kTransceiverDataSize> data{};
    int32_t result =
        api::sendRequest(handle, code::kTransceiverData, nullptr, 0, data.data(), data.size());
    if (!api::isExactReply(result, codec::kTransceiverDataSize)) return result;
    codec::decodeTransceiverData(data, status);
    return NETTLEBEAM_STATUS_SUCCESS;
}

int32_t readFirstGeneration(int32_t handle, NettlebeamApiLinkStatus& status) {
    uint8_t byte = 0;
    if (int32_t r = readStatusByte(handle, code::kLinkStatusByte, byte); r != 0) return r;
    codec::decodeLinkStatusByte(byte, status);
    return NETTLEBEAM_STATUS_SUCCESS;
}

}  // namespace

extern "C" {

int32_t NettlebeamAPIGetLinkStatus(NettlebeamApiDeviceHandle handle,
                                   NettlebeamApiLinkStatus* status) {
    return api::guardedExport([&]() -> int32_t {
        auto identity = api::deviceIdentity(handle);
        if (!identity) return NETTLEBEAM_STATUS_UNKNOWN_HANDLE;
        if (status == nullptr) return NETTLEBEAM_STATUS_FAILED;
        uint32_t capabilities =
            codec::fullCapabilities(identity->type, identity->versions.hwFirmware);
        status->linkValid = 0;
        status->sfpValid = 0;
        status->phyValid = 0;
        if (capabilities & CapPerPortLinkStatus) return readGigabitCopper(handle, *status);
        if (capabilities & CapFastEthernetSpeed) return readFastEthernet(handle, *status);
        if (capabilities & CapSfp) return readTransceivers(handle, *status);
        return readFirstGeneration(handle, *status);
    });
}

}  // extern "C"
