#include "device_identification.h"

#include <array>
#include <cstring>

#include "NettlebeamAPI.h"
#include "codec/identity.h"
#include "driver_channel.h"
#include "request_codes.h"

namespace nettlebeam::api {

namespace {

constexpr size_t kTimingStatusBytes = 19;

// The type, and whether its requests were answered in full.
uint32_t detectDeviceType(int32_t handle, bool& answered) {
    std::array<uint8_t, 1> identifier{};
    int32_t result = sendRequest(handle, wire::code::kHardwareId, nullptr, 0, identifier.data(),
                                 identifier.size());
    answered = result == 1;
    NettlebeamApiDeviceType type = codec::deviceTypeFromIdentifierReply(result, identifier);
    if (result != 1 || identifier[0] != codec::kTenGigabitIdentifier) return type;
    // The identifier is shared by the models with and without a GPS module.
    std::array<uint8_t, kTimingStatusBytes> timing{};
    result =
        sendRequest(handle, wire::code::kTimingStatus, nullptr, 0, timing.data(), timing.size());
    answered = result == static_cast<int32_t>(kTimingStatusBytes);
    return codec::tenGigabitTypeFromTimingStatus(result, timing);
}

StoredVersions readStoredVersions(int32_t handle, bool& answered) {
    std::array<uint8_t, codec::kVersionReplySize> reply{};
    int32_t result =
        sendRequest(handle, wire::code::kVersions, nullptr, 0, reply.data(), reply.size());
    answered = result == static_cast<int32_t>(codec::kVersionReplySize);
    NettlebeamApiVersions decoded = codec::decodeVersionReply(result, reply);
    StoredVersions versions;
    for (int i = 0; i < 4; ++i) {
        versions.swFirmware[i] = decoded.swFirmwareVersion[i];
        versions.driver[i] = decoded.driverVersion[i];
    }
    versions.hwFirmware = decoded.hwFirmwareVersion;
    return versions;
}

std::optional<MacAddress> readMac(int32_t handle, bool& answered) {
    MacAddress mac{};
    int32_t result =
        sendRequest(handle, wire::code::kMacAddress, nullptr, 0, mac.data(), mac.size());
    answered = result == static_cast<int32_t>(mac.size());
    if (!answered) return std::nullopt;
    return mac;
}

bool sameVersions(const StoredVersions& a, const StoredVersions& b) {
    return std::memcmp(a.swFirmware, b.swFirmware, sizeof(a.swFirmware)) == 0 &&
           std::memcmp(a.driver, b.driver, sizeof(a.driver)) == 0 && a.hwFirmware == b.hwFirmware;
}

}  // namespace

Identification identifyDevice(int32_t handle, bool withMac) {
    Identification identification;
    bool typeAnswered = false, versionsAnswered = false, macAnswered = true;
    identification.type = detectDeviceType(handle, typeAnswered);
    identification.versions = readStoredVersions(handle, versionsAnswered);
    if (withMac) identification.mac = readMac(handle, macAnswered);
    identification.complete = typeAnswered && versionsAnswered && macAnswered;
    return identification;
}

bool differs(const Identification& identification, const DeviceRecord& record) {
    const bool otherMac = identification.mac && record.mac && *identification.mac != *record.mac;
    return identification.type != record.type ||
           !sameVersions(identification.versions, record.versions) || otherMac;
}

}  // namespace nettlebeam::api
