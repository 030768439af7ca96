#include "device_identification.h"

#include <array>

#include "NettlebeamAPI.h"
#include "codec/identity.h"
#include "codec/request_codes.h"
#include "driver_channel.h"

namespace nettlebeam::api {

namespace {

constexpr size_t kTimingStatusBytes = 19;

}  // namespace

uint32_t detectDeviceType(int32_t handle) {
    std::array<uint8_t, 1> identifier{};
    int32_t result = sendRequest(handle, codec::request::ReadHardwareIdentifier, nullptr, 0,
                                 identifier.data(), identifier.size());
    NettlebeamApiDeviceType type = codec::deviceTypeFromIdentifierReply(result, identifier);
    if (result != 1 || identifier[0] != codec::kTenGigabitIdentifier) return type;
    // The identifier is shared by the models with and without a GPS module.
    std::array<uint8_t, kTimingStatusBytes> timing{};
    result = sendRequest(handle, codec::request::ReadTimingStatus, nullptr, 0, timing.data(),
                         timing.size());
    return codec::tenGigabitTypeFromTimingStatus(result, timing);
}

StoredVersions readStoredVersions(int32_t handle) {
    std::array<uint8_t, codec::kVersionReplySize> reply{};
    int32_t result =
        sendRequest(handle, codec::request::ReadVersions, nullptr, 0, reply.data(), reply.size());
    NettlebeamApiVersions decoded = codec::decodeVersionReply(result, reply);
    StoredVersions versions;
    for (int i = 0; i < 4; ++i) {
        versions.swFirmware[i] = decoded.swFirmwareVersion[i];
        versions.driver[i] = decoded.driverVersion[i];
    }
    versions.hwFirmware = decoded.hwFirmwareVersion;
    return versions;
}

}  // namespace nettlebeam::api
