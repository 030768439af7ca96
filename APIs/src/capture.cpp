// Direct capture (the driver writes the files) and memory capture.
#include "codec/capture.h"

#include <array>
#include <optional>
#include <vector>

#include "NettlebeamAPI.h"
#include "byte_order.h"
#include "device_access.h"
#include "driver_channel.h"
#include "export_guard.h"
#include "request_codes.h"
#include "shared_memory_capture.h"
#include "text_conversion.h"

namespace api = nettlebeam::api;
namespace codec = nettlebeam::codec;
namespace wire = nettlebeam::wire;
namespace code = nettlebeam::wire::code;

namespace {

// On/off settings travel as one byte, 1 only for exactly 1.
int32_t sendByte(int32_t handle, uint32_t code, int32_t setting) {
    uint8_t value = codec::switchByte(setting);
    return api::sendCommand(handle, code, &value, 1);
}

int32_t sendWord(int32_t handle, uint32_t code, uint32_t value) {
    std::array<uint8_t, 4> bytes{};
    wire::writeLe32(bytes, 0, value);
    return api::sendCommand(handle, code, bytes.data(), bytes.size());
}

int32_t sendDoubleWord(int32_t handle, uint32_t code, uint64_t value) {
    std::array<uint8_t, 8> bytes{};
    wire::writeLe64(bytes, 0, value);
    return api::sendCommand(handle, code, bytes.data(), bytes.size());
}

// The full path in UTF-16 with its terminating zero.
std::optional<std::vector<uint8_t>> fileNamePayload(const char16_t* name) {
    auto absolute = api::absoluteFileName(name);
    if (!absolute) return std::nullopt;
    return codec::encodeUtf16Name(*absolute);
}

// The settings go one request each; the first that the driver does not take
// ends the configuration with its result, keeping the settings sent before.
int32_t configure(int32_t handle, uint32_t capabilities,
                  const NettlebeamApiDiskDumpConfig& config) {
    if (int32_t r = sendByte(handle, code::kCaptureLoop, config.loop); r != 0) return r;
    if (int32_t r = sendDoubleWord(handle, code::kCaptureFileSize, config.fileSize); r != 0)
        return r;
    if (int32_t r = sendDoubleWord(handle, code::kCaptureMaxCache, config.maxCache); r != 0)
        return r;
    auto name = fileNamePayload(config.fileName);
    if (!name) return NETTLEBEAM_STATUS_FAILED;
    if (api::sendCommand(handle, code::kCaptureFileName, name->data(),
                         static_cast<uint32_t>(name->size())) != 0)
        return NETTLEBEAM_STATUS_FAILED;
    if (int32_t r =
            sendWord(handle, code::kCaptureFileCount, static_cast<uint32_t>(config.fileCount));
        r != 0)
        return r;
    if (config.mode != 0 || (capabilities & CapCapture) == 0)
        return NETTLEBEAM_STATUS_NOT_SUPPORTED;
    if (int32_t r = sendWord(handle, code::kCaptureMode, 0); r != 0) return r;
    if (int32_t r = sendByte(handle, code::kCaptureExtraOption, config.extraOption); r != 0)
        return r;
    if (int32_t r = sendWord(handle, code::kCaptureFileDuration,
                             static_cast<uint32_t>(config.fileDuration));
        r != 0)
        return r;
    return sendByte(handle, code::kCaptureFullFrames, config.fullFrames);
}

int32_t readMemoryCapture(int32_t handle, uint32_t code, void* buffer, int32_t* size) {
    if (!api::isKnownDevice(handle)) {
        api::forgetSharedMemoryCapture(handle);
        return NETTLEBEAM_STATUS_UNKNOWN_HANDLE;
    }
    if (size == nullptr || buffer == nullptr) return NETTLEBEAM_STATUS_FAILED;
    if (*size < NETTLEBEAM_MEMORY_CAPTURE_MIN_BUFFER) return NETTLEBEAM_STATUS_BUFFER_TOO_SMALL;
    if (code == code::kMemoryCaptureData)
        if (auto status = api::readSharedMemoryCapture(handle, buffer, size)) return *status;
    int32_t result =
        api::sendRequest(handle, code, nullptr, 0, buffer, static_cast<uint32_t>(*size));
    *size = result;
    return result < 0 ? NETTLEBEAM_STATUS_FAILED : NETTLEBEAM_STATUS_SUCCESS;
}

}  // namespace

extern "C" {

int32_t NettlebeamAPIDiskDumpSetConfig(NettlebeamApiDeviceHandle handle,
                                       NettlebeamApiDiskDumpConfig config) {
    return api::guardedExport([&]() -> int32_t {
        auto identity = api::deviceIdentity(handle);
        if (!identity) return NETTLEBEAM_STATUS_UNKNOWN_HANDLE;
        uint32_t capabilities =
            codec::fullCapabilities(identity->type, identity->versions.hwFirmware);
        if (config.fullFrames != 0 && (capabilities & CapCaptureV2) == 0)
            return NETTLEBEAM_STATUS_NOT_SUPPORTED;
        return configure(handle, capabilities, config);
    });
}

int32_t NettlebeamAPIDiskDumpStart(NettlebeamApiDeviceHandle handle) {
    return api::guardedExport(
        [&]() -> int32_t { return api::validatedCommand(handle, code::kCaptureStart); });
}

int32_t NettlebeamAPIDiskDumpStop(NettlebeamApiDeviceHandle handle) {
    return api::guardedExport(
        [&]() -> int32_t { return api::validatedCommand(handle, code::kCaptureStop); });
}

int32_t NettlebeamAPIDiskDumpGetStatus(NettlebeamApiDeviceHandle handle,
                                       NettlebeamApiDiskDumpStatus* status) {
    return api::guardedExport([&]() -> int32_t {
        if (!api::isKnownDevice(handle)) return NETTLEBEAM_STATUS_UNKNOWN_HANDLE;
        if (status == nullptr) return NETTLEBEAM_STATUS_FAILED;
        std::vector<uint8_t> reply(codec::kCaptureStatusReplySize);
        int32_t result = api::sendRequest(handle, code::kCaptureStatus, nullptr, 0, reply.data(),
                                          static_cast<uint32_t>(reply.size()));
        if (!api::isExactReply(result, codec::kCaptureStatusReplySize)) return result;
        if (auto decoded = codec::decodeDiskDumpStatus(reply)) *status = *decoded;
        return NETTLEBEAM_STATUS_SUCCESS;
    });
}

int32_t NettlebeamAPIDiskDumpGetFramesWritten(NettlebeamApiDeviceHandle handle, uint64_t* frames) {
    return api::guardedExport([&]() -> int32_t {
        auto identity = api::deviceIdentity(handle);
        if (!identity) return NETTLEBEAM_STATUS_UNKNOWN_HANDLE;
        if (frames == nullptr) return NETTLEBEAM_STATUS_FAILED;
        if ((codec::fullCapabilities(identity->type, identity->versions.hwFirmware) & CapCapture) ==
            0)
            return NETTLEBEAM_STATUS_NOT_SUPPORTED;
        std::array<uint8_t, 8> reply{};
        int32_t result = api::sendRequest(handle, code::kCaptureFramesWritten, nullptr, 0,
                                          reply.data(), static_cast<uint32_t>(reply.size()));
        // Only the whole count: an empty or short reply (a driver that does
        // not know the request) must not read as zero frames.
        if (result != static_cast<int32_t>(reply.size())) return NETTLEBEAM_STATUS_FAILED;
        *frames = wire::readLe64(reply, 0);
        return NETTLEBEAM_STATUS_SUCCESS;
    });
}

int32_t NettlebeamAPIMemoryCaptureStart(NettlebeamApiDeviceHandle handle, int32_t mode) {
    return api::guardedExport([&]() -> int32_t {
        if (int32_t status = api::checkDeviceCapability(handle, CapCapture); status != 0)
            return status;
        if (mode != 0) return NETTLEBEAM_STATUS_NOT_SUPPORTED;
        if (int32_t r = sendWord(handle, code::kMemoryCaptureMode, 0); r != 0) return r;
        // A new capture: whatever the library knew of the last one is stale.
        api::forgetSharedMemoryCapture(handle);
        return api::commandStatus(api::sendCommand(handle, code::kMemoryCaptureStart));
    });
}

int32_t NettlebeamAPIMemoryCaptureStop(NettlebeamApiDeviceHandle handle) {
    return api::guardedExport([&]() -> int32_t {
        int32_t status = api::validatedCommand(handle, code::kMemoryCaptureStop);
        // The ring's pages stay alive as long as they are mapped.
        api::forgetSharedMemoryCapture(handle);
        return status;
    });
}

int32_t NettlebeamAPIMemoryCaptureGet(NettlebeamApiDeviceHandle handle, void* buffer,
                                      int32_t* size) {
    return api::guardedExport([&]() -> int32_t {
        return readMemoryCapture(handle, code::kMemoryCaptureData, buffer, size);
    });
}

int32_t NettlebeamAPIMemoryCaptureGetHeader(NettlebeamApiDeviceHandle handle, void* buffer,
                                            int32_t* size) {
    return api::guardedExport([&]() -> int32_t {
        return readMemoryCapture(handle, code::kMemoryCaptureHeader, buffer, size);
    });
}

}  // extern "C"
