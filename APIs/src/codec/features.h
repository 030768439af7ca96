// The device's 32-byte configuration block and its two views: the features
// record and the ports speed record. Each setter changes only its own bits.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <span>

#include "NettlebeamAPI.h"

namespace nettlebeam::codec {

inline constexpr size_t kConfigBlockSize = 32;

// Eight little-endian 32-bit words, as the device stores them.
struct ConfigBlock {
    std::array<uint32_t, 8> words{};
};

// Nothing when `bytes` is shorter than a block.
std::optional<ConfigBlock> parseConfigBlock(std::span<const uint8_t> bytes);
std::array<uint8_t, kConfigBlockSize> serializeConfigBlock(const ConfigBlock& block);

NettlebeamApiDeviceFeatures featuresFromBlock(const ConfigBlock& block);

// Writes the features into the block's feature bits. Returns 0, or
// NETTLEBEAM_STATUS_NOT_SUPPORTED for a timestampInitSource outside 0..3 and
// NETTLEBEAM_STATUS_INVALID_VALUE for a configWord4High above 3; on failure
// the block is left as it was.
int32_t applyFeatures(ConfigBlock& block, const NettlebeamApiDeviceFeatures& features);

// Sets to 1 every field of `speeds` whose advertisement bit is set; fields
// whose bits are clear are left as they were (callers clear the record).
void readPortsSpeed(const ConfigBlock& block, NettlebeamApiPortsSpeed& speeds);

// Rewrites the advertisement bits of word 1 from the record.
void applyPortsSpeed(ConfigBlock& block, const NettlebeamApiPortsSpeed& speeds);

}  // namespace nettlebeam::codec
