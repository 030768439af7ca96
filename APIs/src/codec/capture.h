// Direct capture: the status reply, the driver's error codes and the
// settings' payloads.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string_view>
#include <vector>

#include "NettlebeamAPI.h"

namespace nettlebeam::codec {

inline constexpr size_t kCaptureStatusReplySize = 8256;
// Only the first eight words of the status reply carry fields.
inline constexpr size_t kCaptureStatusUsedSize = 64;

// Driver error code to status: 0, 1, 2, 8, 16 to 0, -6, -7, -8, -9; any other -1.
int32_t captureErrorStatus(uint64_t driverCode);

// Nothing when the reply is shorter than kCaptureStatusUsedSize.
std::optional<NettlebeamApiDiskDumpStatus> decodeDiskDumpStatus(std::span<const uint8_t> reply);

// One-byte switches travel as 1 only for exactly 1.
inline uint8_t switchByte(int32_t value) {
    return value == 1 ? 1 : 0;
}

// The capture file name as the driver takes it: UTF-16 little-endian code
// units followed by a zero unit.
std::vector<uint8_t> encodeUtf16Name(std::u16string_view name);

}  // namespace nettlebeam::codec
