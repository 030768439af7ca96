// Statistics replies (format 1 and format 2), the host-side drop counter,
// the trailer, and the programmable counter block.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <span>

#include "NettlebeamAPI.h"

namespace nettlebeam::codec {

inline constexpr size_t kStatisticsFormat1Size = 160;
inline constexpr size_t kStatisticsFormat2Size = 128;
inline constexpr size_t kHostDroppedSize = 8;
inline constexpr size_t kCounterBlockSize = 30;
inline constexpr uint64_t kFormat1Signature = 0x0D0C0B0A03020100ull;
// Link up and down times come in device ticks.
inline constexpr uint64_t kTicksPerMillisecond = 50000;

// Factor of a port speed code (two bits of the port speed byte).
uint32_t speedFactor(unsigned speedCode);

// The bytes a port could have carried: device time value x 0.025 x factor,
// computed in double precision and truncated (saturating at the top).
uint64_t speedWeightedCount(uint64_t deviceTime, uint32_t factor);

// Fills the format-1 part of `stats` (version 1). `portSpeedByte` is given
// for devices whose statistics are scaled by port speed: the first group of
// the reply then fills portA; without it the first group fills portB and
// both factors are 1. Returns 0, or NETTLEBEAM_STATUS_FAILED when the reply
// is short or lacks the signature (only `version` is written then).
int32_t decodeStatisticsFormat1(std::span<const uint8_t> reply,
                                std::optional<uint8_t> portSpeedByte,
                                NettlebeamApiStatistics& stats);

// Fills the format-2 counters (version 2); false when the reply is short.
bool decodeStatisticsFormat2(std::span<const uint8_t> reply, NettlebeamApiStatistics& stats);

// The host-side drop counter; nothing when the reply is short.
std::optional<uint64_t> decodeHostDropped(std::span<const uint8_t> reply);

// Copies the trailer to the offset of the record's format (by `version`);
// false when the reply is short or the version is neither 1 nor 2.
bool storeStatisticsTrailer(std::span<const uint8_t> reply, NettlebeamApiStatistics& stats);

std::array<uint8_t, kCounterBlockSize> encodeCounterBlock(const NettlebeamApiCounterV2& counter);

// The record read back from a block; `index` is left 0. Nothing when the
// block is short.
std::optional<NettlebeamApiCounterV2> decodeCounterBlock(std::span<const uint8_t> block);

}  // namespace nettlebeam::codec
