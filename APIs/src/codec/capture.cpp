#include "codec/capture.h"

#include "byte_order.h"

namespace nettlebeam::codec {

int32_t captureErrorStatus(uint64_t driverCode) {
    switch (driverCode) {
        case 0:
            return NETTLEBEAM_STATUS_SUCCESS;
        case 1:
            return NETTLEBEAM_STATUS_CAPTURE_ERROR_1;
        case 2:
            return NETTLEBEAM_STATUS_CAPTURE_ERROR_2;
        case 8:
            return NETTLEBEAM_STATUS_CAPTURE_ERROR_8;
        case 16:
            return NETTLEBEAM_STATUS_CAPTURE_ERROR_16;
        default:
            return NETTLEBEAM_STATUS_FAILED;
    }
}

std::optional<NettlebeamApiDiskDumpStatus> decodeDiskDumpStatus(std::span<const uint8_t> reply) {
    if (reply.size() < kCaptureStatusUsedSize) return std::nullopt;
    const auto word = [&](size_t index) { return wire::readLe64(reply, 8 * index); };
    NettlebeamApiDiskDumpStatus status{};
    status.enabled = word(0) != 0 ? 1 : 0;
    status.statusFlag = word(1) != 0 ? 1 : 0;
    status.cacheUsed = word(2);
    status.bytesWritten = word(3);
    status.bytesDropped = word(4);
    status.error = captureErrorStatus(word(5));
    status.maxCache = word(6);
    status.filesWritten = word(7);
    return status;
}

std::vector<uint8_t> encodeUtf16Name(std::u16string_view name) {
    std::vector<uint8_t> bytes(2 * (name.size() + 1), 0);
    for (size_t i = 0; i < name.size(); ++i) wire::writeLe16(bytes, 2 * i, name[i]);
    return bytes;
}

}  // namespace nettlebeam::codec
