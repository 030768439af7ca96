// Statistics (format 1 or 2 by capability) and the programmable counters.
#include "codec/statistics.h"

#include <time.h>

#include <array>
#include <optional>

#include "NettlebeamAPI.h"
#include "byte_order.h"
#include "device_access.h"
#include "driver_channel.h"
#include "export_guard.h"
#include "request_codes.h"

namespace api = nettlebeam::api;
namespace codec = nettlebeam::codec;
namespace wire = nettlebeam::wire;
namespace code = nettlebeam::wire::code;

namespace {

constexpr int32_t kHighestCounterIndex = 15;

// Milliseconds since the host started, counting time spent suspended.
uint64_t hostMilliseconds() {
    timespec now{};
    clock_gettime(CLOCK_BOOTTIME, &now);
    return static_cast<uint64_t>(now.tv_sec) * 1000u +
           static_cast<uint64_t>(now.tv_nsec) / 1000000u;
}

int32_t readFormat1(int32_t handle, uint32_t capabilities, NettlebeamApiStatistics& stats) {
    stats.version = 1;
    std::array<uint8_t, codec::kStatisticsFormat1Size> reply{};
    int32_t result =
        api::sendRequest(handle, code::kStatisticsFormat1, nullptr, 0, reply.data(), reply.size());
    if (!api::isExactReply(result, codec::kStatisticsFormat1Size)) return result;
    std::optional<uint8_t> portSpeed;
    if (capabilities & (CapPortSpeedSelect | CapFastEthernetSpeed)) {
        // The scaling byte is best effort: its result is not checked.
        uint8_t byte = 0;
        api::sendRequest(handle, code::kPortSpeedByte, nullptr, 0, &byte, 1);
        portSpeed = byte;
    }
    return codec::decodeStatisticsFormat1(reply, portSpeed, stats);
}

int32_t readFormat2(int32_t handle, NettlebeamApiStatistics& stats) {
    stats.version = 2;
    std::array<uint8_t, codec::kStatisticsFormat2Size> reply{};
    int32_t result =
        api::sendRequest(handle, code::kStatisticsFormat2, nullptr, 0, reply.data(), reply.size());
    if (!api::isExactReply(result, codec::kStatisticsFormat2Size)) return result;
    codec::decodeStatisticsFormat2(reply, stats);
    return NETTLEBEAM_STATUS_SUCCESS;
}

// The host-side drop counter and the trailer, read after the counters.
int32_t readHostSide(int32_t handle, NettlebeamApiStatistics& stats) {
    stats.timestamp = hostMilliseconds();
    std::array<uint8_t, codec::kHostDroppedSize> dropped{};
    int32_t result = api::sendRequest(handle, code::kHostDropCounter, nullptr, 0, dropped.data(),
                                      dropped.size());
    if (!api::isExactReply(result, codec::kHostDroppedSize)) return result;
    stats.swDropped = codec::decodeHostDropped(dropped).value_or(0);

    std::array<uint8_t, NETTLEBEAM_STATISTICS_TRAILER_SIZE> trailer{};
    result = api::sendRequest(handle, code::kStatisticsTrailer, nullptr, 0, trailer.data(),
                              trailer.size());
    if (!api::isExactReply(result, NETTLEBEAM_STATISTICS_TRAILER_SIZE)) return result;
    codec::storeStatisticsTrailer(trailer, stats);
    return NETTLEBEAM_STATUS_SUCCESS;
}

// Handle, capability and index checks shared by the counter exports.
int32_t checkCounterAccess(int32_t handle, int32_t index) {
    if (int32_t status = api::checkDeviceCapability(handle, CapStatisticsV2); status != 0)
        return status;
    // Negative indexes are out of range as much as those above 15.
    if (index < 0 || index > kHighestCounterIndex) return NETTLEBEAM_STATUS_NOT_FOUND;
    return NETTLEBEAM_STATUS_SUCCESS;
}

}  // namespace

extern "C" {

int32_t NettlebeamAPIGetStatistics(NettlebeamApiDeviceHandle handle,
                                   NettlebeamApiStatistics* statistics) {
    return api::guardedExport([&]() -> int32_t {
        auto identity = api::deviceIdentity(handle);
        if (!identity) return NETTLEBEAM_STATUS_UNKNOWN_HANDLE;
        if (statistics == nullptr) return NETTLEBEAM_STATUS_FAILED;
        uint32_t capabilities =
            codec::fullCapabilities(identity->type, identity->versions.hwFirmware);
        int32_t status = NETTLEBEAM_STATUS_NOT_SUPPORTED;
        if (capabilities & CapStatisticsV1) {
            status = readFormat1(handle, capabilities, *statistics);
        } else if (capabilities & CapStatisticsV2) {
            status = readFormat2(handle, *statistics);
        }
        if (status != 0) return status;
        return readHostSide(handle, *statistics);
    });
}

int32_t NettlebeamAPISetCounterV2(NettlebeamApiDeviceHandle handle,
                                  NettlebeamApiCounterV2 counter) {
    return api::guardedExport([&]() -> int32_t {
        if (int32_t status = checkCounterAccess(handle, counter.index); status != 0) return status;
        auto block = codec::encodeCounterBlock(counter);
        return api::passThroughStatus(
            api::sendCommand(handle, code::kWriteCounter, block.data(), block.size()));
    });
}

int32_t NettlebeamAPIGetCounterV2(NettlebeamApiDeviceHandle handle, int32_t index,
                                  NettlebeamApiCounterV2* counter) {
    return api::guardedExport([&]() -> int32_t {
        if (int32_t status = checkCounterAccess(handle, index); status != 0) return status;
        if (counter == nullptr) return NETTLEBEAM_STATUS_FAILED;
        *counter = NettlebeamApiCounterV2{};
        std::array<uint8_t, 4> indexBytes{};
        wire::writeLe32(indexBytes, 0, static_cast<uint32_t>(index));
        std::array<uint8_t, codec::kCounterBlockSize> block{};
        int32_t result = api::sendRequest(handle, code::kReadCounter, indexBytes.data(),
                                          indexBytes.size(), block.data(), block.size());
        if (!api::isExactReply(result, codec::kCounterBlockSize)) return result;
        *counter = codec::decodeCounterBlock(block).value_or(NettlebeamApiCounterV2{});
        return NETTLEBEAM_STATUS_SUCCESS;
    });
}

}  // extern "C"
