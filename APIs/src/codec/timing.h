// Timing blocks: the 19-byte timing status and the 17-byte set-time block.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <span>

#include "NettlebeamAPI.h"

namespace nettlebeam::codec {

inline constexpr size_t kTimingStatusSize = 19;
inline constexpr size_t kTimingTimeBlockSize = 17;
// From this hardware firmware version on the PPS deviation counts in 5 ns steps.
inline constexpr uint32_t kFiveNanosecondDeviationFirmware = 207;

// Nothing when the reply is short.
std::optional<NettlebeamApiTimingStatus> decodeTimingStatus(std::span<const uint8_t> reply,
                                                            uint32_t hwFirmwareVersion);

// Device code of a time source (2, 4 or 5); nothing for any other value.
std::optional<uint8_t> timingSourceCode(int32_t source);

// Nothing when the record's source is unknown.
std::optional<std::array<uint8_t, kTimingTimeBlockSize>> encodeTimingTime(
    const NettlebeamApiTimingTime& time);

}  // namespace nettlebeam::codec
