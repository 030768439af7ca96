// Hardware filters: packet-type selection, DPI pattern and packet filter.
#include "codec/filters.h"

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

bool hasCapability(int32_t handle, uint32_t capability) {
    return (api::deviceCapabilities(handle) & capability) != 0;
}

int32_t checkFilterAccess(int32_t handle, uint32_t capability) {
    return api::checkDeviceCapability(handle, capability);
}

int32_t saveFilter(int32_t handle, uint32_t capability, uint32_t code) {
    if (int32_t status = checkFilterAccess(handle, capability); status != 0) return status;
    return api::commandStatus(api::sendCommand(handle, code));
}

template <size_t N>
int32_t writeBlock(int32_t handle, uint32_t code, const std::array<uint8_t, N>& block) {
    return api::passThroughStatus(api::sendCommand(handle, code, block.data(), N));
}

// Reads a filter block of N bytes; `status` is what the export returns when
// the reply is not usable.
template <size_t N>
bool readBlock(int32_t handle, uint32_t code, std::array<uint8_t, N>& block, int32_t& status) {
    status = api::sendRequest(handle, code, nullptr, 0, block.data(), N);
    if (!api::isExactReply(status, static_cast<int32_t>(N))) return false;
    status = NETTLEBEAM_STATUS_SUCCESS;
    return true;
}

}  // namespace

extern "C" {

// The packet-type filter answers -5 for an unknown handle too: it has no
// capabilities.
int32_t NettlebeamAPISetPacketsTypeFilter(NettlebeamApiDeviceHandle handle,
                                          NettlebeamApiPacketsTypeFilter filter) {
    return api::guardedExport([&]() -> int32_t {
        if (!hasCapability(handle, CapPacketsTypeFilter)) return NETTLEBEAM_STATUS_NOT_SUPPORTED;
        return writeBlock(handle, code::kWritePacketTypeFilter,
                          codec::encodePacketsTypeBlock(filter));
    });
}

int32_t NettlebeamAPIGetPacketsTypeFilter(NettlebeamApiDeviceHandle handle,
                                          NettlebeamApiPacketsTypeFilter* filter) {
    return api::guardedExport([&]() -> int32_t {
        if (!hasCapability(handle, CapPacketsTypeFilter)) return NETTLEBEAM_STATUS_NOT_SUPPORTED;
        if (filter == nullptr) return NETTLEBEAM_STATUS_FAILED;
        std::array<uint8_t, codec::kPacketsTypeBlockSize> block{};
        int32_t status = NETTLEBEAM_STATUS_FAILED;
        if (!readBlock(handle, code::kReadPacketTypeFilter, block, status)) return status;
        if (auto decoded = codec::decodePacketsTypeBlock(block)) *filter = *decoded;
        return NETTLEBEAM_STATUS_SUCCESS;
    });
}

int32_t NettlebeamAPISavePacketsTypeFilter(NettlebeamApiDeviceHandle handle) {
    return api::guardedExport([&]() -> int32_t {
        return saveFilter(handle, CapPacketsTypeFilter, code::kSavePacketTypeFilter);
    });
}

int32_t NettlebeamAPISetDpiFilter(NettlebeamApiDeviceHandle handle, NettlebeamApiDpiFilter filter) {
    return api::guardedExport([&]() -> int32_t {
        if (int32_t status = checkFilterAccess(handle, CapPacketFilter); status != 0) return status;
        return writeBlock(handle, code::kWriteDpiFilter, codec::encodeDpiBlock(filter));
    });
}

int32_t NettlebeamAPIGetDpiFilter(NettlebeamApiDeviceHandle handle,
                                  NettlebeamApiDpiFilter* filter) {
    return api::guardedExport([&]() -> int32_t {
        if (int32_t status = checkFilterAccess(handle, CapPacketFilter); status != 0) return status;
        if (filter == nullptr) return NETTLEBEAM_STATUS_FAILED;
        std::array<uint8_t, codec::kDpiBlockSize> block{};
        int32_t status = NETTLEBEAM_STATUS_FAILED;
        if (!readBlock(handle, code::kReadDpiFilter, block, status)) return status;
        if (auto decoded = codec::decodeDpiBlock(block)) *filter = *decoded;
        return NETTLEBEAM_STATUS_SUCCESS;
    });
}

int32_t NettlebeamAPISaveDpiFilter(NettlebeamApiDeviceHandle handle) {
    return api::guardedExport(
        [&]() -> int32_t { return saveFilter(handle, CapPacketFilter, code::kSaveDpiFilter); });
}

int32_t NettlebeamAPISetPacketFilter(NettlebeamApiDeviceHandle handle,
                                     NettlebeamApiPacketFilter filter) {
    return api::guardedExport([&]() -> int32_t {
        if (int32_t status = checkFilterAccess(handle, CapPacketFilter); status != 0) return status;
        return writeBlock(handle, code::kWritePacketFilter, codec::encodePacketFilterBlock(filter));
    });
}

int32_t NettlebeamAPIGetPacketFilter(NettlebeamApiDeviceHandle handle,
                                     NettlebeamApiPacketFilter* filter) {
    return api::guardedExport([&]() -> int32_t {
        if (int32_t status = checkFilterAccess(handle, CapPacketFilter); status != 0) return status;
        if (filter == nullptr) return NETTLEBEAM_STATUS_FAILED;
        std::array<uint8_t, codec::kPacketFilterBlockSize> block{};
        int32_t status = NETTLEBEAM_STATUS_FAILED;
        if (!readBlock(handle, code::kReadPacketFilter, block, status)) return status;
        codec::decodePacketFilterBlock(block, *filter);
        return NETTLEBEAM_STATUS_SUCCESS;
    });
}

int32_t NettlebeamAPISavePacketFilter(NettlebeamApiDeviceHandle handle) {
    return api::guardedExport(
        [&]() -> int32_t { return saveFilter(handle, CapPacketFilter, code::kSavePacketFilter); });
}

}  // extern "C"
