// Device features, port speeds, saving and restart: two views of the
// configuration block, each setter changing only its own bits.
#include "codec/features.h"

#include <array>
#include <optional>

#include "NettlebeamAPI.h"
#include "device_access.h"
#include "driver_channel.h"
#include "export_guard.h"
#include "request_codes.h"

namespace api = nettlebeam::api;
namespace codec = nettlebeam::codec;
namespace code = nettlebeam::wire::code;

namespace {

constexpr int32_t kBlockBytes = codec::kConfigBlockSize;

// Reads the block; `status` gets the transport result when it is not usable.
std::optional<codec::ConfigBlock> readBlock(int32_t handle, int32_t& status) {
    std::array<uint8_t, codec::kConfigBlockSize> bytes{};
    int32_t result =
        api::sendRequest(handle, code::kReadConfiguration, nullptr, 0, bytes.data(), bytes.size());
    if (!api::isExactReply(result, kBlockBytes)) {
        status = result;
        return std::nullopt;
    }
    return codec::parseConfigBlock(bytes);
}

int32_t writeBlock(int32_t handle, const codec::ConfigBlock& block) {
    auto bytes = codec::serializeConfigBlock(block);
    return api::commandStatus(
        api::sendCommand(handle, code::kWriteConfiguration, bytes.data(), bytes.size()));
}

}  // namespace

extern "C" {

int32_t NettlebeamAPIGetDeviceFeatures(NettlebeamApiDeviceHandle handle,
                                       NettlebeamApiDeviceFeatures* features) {
    return api::guardedExport([&]() -> int32_t {
        if (!api::isKnownDevice(handle)) return NETTLEBEAM_STATUS_UNKNOWN_HANDLE;
        if (features == nullptr) return NETTLEBEAM_STATUS_FAILED;
        int32_t status = NETTLEBEAM_STATUS_FAILED;
        auto block = readBlock(handle, status);
        if (!block) return status;
        *features = codec::featuresFromBlock(*block);
        return NETTLEBEAM_STATUS_SUCCESS;
    });
}

int32_t NettlebeamAPISetDeviceFeatures(NettlebeamApiDeviceHandle handle,
                                       NettlebeamApiDeviceFeatures features) {
    return api::guardedExport([&]() -> int32_t {
        if (!api::isKnownDevice(handle)) return NETTLEBEAM_STATUS_UNKNOWN_HANDLE;
        int32_t status = NETTLEBEAM_STATUS_FAILED;
        auto block = readBlock(handle, status);
        if (!block) return status;
        if (int32_t invalid = codec::applyFeatures(*block, features); invalid != 0) return invalid;
        return writeBlock(handle, *block);
    });
}

int32_t NettlebeamAPISaveDeviceFeatures(NettlebeamApiDeviceHandle handle) {
    return api::guardedExport(
        [&]() -> int32_t { return api::validatedCommand(handle, code::kSaveConfiguration); });
}

int32_t NettlebeamAPIGetDevicePortsSpeed(NettlebeamApiDeviceHandle handle,
                                         NettlebeamApiPortsSpeed* portsSpeed) {
    return api::guardedExport([&]() -> int32_t {
        if (!api::isKnownDevice(handle)) return NETTLEBEAM_STATUS_UNKNOWN_HANDLE;
        if (portsSpeed == nullptr) return NETTLEBEAM_STATUS_FAILED;
        int32_t status = NETTLEBEAM_STATUS_FAILED;
        auto block = readBlock(handle, status);
        if (!block) return status;
        codec::readPortsSpeed(*block, *portsSpeed);
        return NETTLEBEAM_STATUS_SUCCESS;
    });
}

int32_t NettlebeamAPISetDevicePortsSpeed(NettlebeamApiDeviceHandle handle,
                                         NettlebeamApiPortsSpeed portsSpeed) {
    return api::guardedExport([&]() -> int32_t {
        if (!api::isKnownDevice(handle)) return NETTLEBEAM_STATUS_UNKNOWN_HANDLE;
        int32_t status = NETTLEBEAM_STATUS_FAILED;
        auto block = readBlock(handle, status);
        if (!block) return status;
        codec::applyPortsSpeed(*block, portsSpeed);
        return writeBlock(handle, *block);
    });
}

int32_t NettlebeamAPIRestartDevice(NettlebeamApiDeviceHandle handle) {
    return api::guardedExport(
        [&]() -> int32_t { return api::validatedCommand(handle, code::kRestart); });
}

}  // extern "C"
