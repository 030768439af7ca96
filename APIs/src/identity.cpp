// Device identity, capabilities and versions.
#include "codec/identity.h"

#include <array>
#include <cstring>

#include "NettlebeamAPI.h"
#include "device_access.h"
#include "driver_channel.h"
#include "export_guard.h"
#include "request_codes.h"

namespace api = nettlebeam::api;
namespace code = nettlebeam::wire::code;

namespace codec = nettlebeam::codec;

namespace {

constexpr int32_t kMacBytes = codec::kMacAddressSize;
constexpr int32_t kExtraInfoBytes = codec::kExtraInfoReplySize;

}  // namespace

extern "C" {

int32_t NettlebeamAPIGetDeviceType(NettlebeamApiDeviceHandle handle,
                                   NettlebeamApiDeviceType* type) {
    return api::guardedExport([&]() -> int32_t {
        auto identity = api::deviceIdentity(handle);
        if (!identity) return NETTLEBEAM_STATUS_UNKNOWN_HANDLE;
        if (type == nullptr) return NETTLEBEAM_STATUS_FAILED;
        *type = identity->type;
        return NETTLEBEAM_STATUS_SUCCESS;
    });
}

NettlebeamApiCapabilities NettlebeamAPIGetDeviceCapabilities(NettlebeamApiDeviceType type) {
    return api::guardedExport<NettlebeamApiCapabilities>(
        0, [&]() -> NettlebeamApiCapabilities { return codec::capabilitiesOfType(type); });
}

NettlebeamApiCapabilities NettlebeamAPIGetDeviceCapabilitiesEx(NettlebeamApiDeviceHandle handle) {
    return api::guardedExport<NettlebeamApiCapabilities>(
        0, [&]() -> NettlebeamApiCapabilities { return api::deviceCapabilities(handle); });
}

int32_t NettlebeamAPIGetDeviceMAC(NettlebeamApiDeviceHandle handle, uint8_t* mac) {
    return api::guardedExport([&]() -> int32_t {
        if (!api::isKnownDevice(handle)) return NETTLEBEAM_STATUS_UNKNOWN_HANDLE;
        if (mac == nullptr) return NETTLEBEAM_STATUS_FAILED;
        int32_t result = api::sendRequest(handle, code::kMacAddress, nullptr, 0, mac, kMacBytes);
        if (result != kMacBytes) return result;
        api::MacAddress read{};
        std::memcpy(read.data(), mac, read.size());
        api::Library::instance().rememberMac(handle, read);
        return NETTLEBEAM_STATUS_SUCCESS;
    });
}

int32_t NettlebeamAPIGetDeviceExtraInfo(NettlebeamApiDeviceHandle handle, uint8_t* usbSpeed) {
    return api::guardedExport([&]() -> int32_t {
        if (!api::isKnownDevice(handle)) return NETTLEBEAM_STATUS_UNKNOWN_HANDLE;
        std::array<uint8_t, kExtraInfoBytes> reply{};
        int32_t result = api::sendRequest(handle, code::kExtraInformation, nullptr, 0, reply.data(),
                                          reply.size());
        if (!api::isExactReply(result, kExtraInfoBytes)) return result;
        auto speed = codec::decodeUsbSpeed(reply);
        if (!speed || usbSpeed == nullptr) return NETTLEBEAM_STATUS_FAILED;
        *usbSpeed = *speed;
        return NETTLEBEAM_STATUS_SUCCESS;
    });
}

int32_t NettlebeamAPIGetVersions(NettlebeamApiDeviceHandle handle,
                                 NettlebeamApiVersions* versions) {
    return api::guardedExport([&]() -> int32_t {
        auto identity = api::deviceIdentity(handle);
        if (!identity) return NETTLEBEAM_STATUS_UNKNOWN_HANDLE;
        if (versions == nullptr) return NETTLEBEAM_STATUS_FAILED;
        std::memcpy(versions->swFirmwareVersion, identity->versions.swFirmware, 4);
        std::memcpy(versions->driverVersion, identity->versions.driver, 4);
        versions->hwFirmwareVersion = identity->versions.hwFirmware;
        return NETTLEBEAM_STATUS_SUCCESS;
    });
}

int32_t NettlebeamAPIGetHwFirmwaresDesc(NettlebeamApiDeviceHandle handle,
                                        NettlebeamApiHwFirmwaresDesc* desc) {
    return api::guardedExport([&]() -> int32_t {
        auto identity = api::deviceIdentity(handle);
        if (!identity) return NETTLEBEAM_STATUS_UNKNOWN_HANDLE;
        if (desc == nullptr) return NETTLEBEAM_STATUS_FAILED;
        *desc = codec::firmwareDescriptions(identity->type);
        return NETTLEBEAM_STATUS_SUCCESS;
    });
}

}  // extern "C"
