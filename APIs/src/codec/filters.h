// Hardware filter blocks: the packet-type word, the DPI block and the packet
// filter block.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <span>

#include "NettlebeamAPI.h"

namespace nettlebeam::codec {

inline constexpr size_t kPacketsTypeBlockSize = 8;
inline constexpr size_t kDpiBlockSize = 224;
inline constexpr size_t kPacketFilterBlockSize = 248;

// Word bit of each packet-type flag, in flag order.
inline constexpr std::array<unsigned, NETTLEBEAM_PACKET_TYPE_CLASSES> kPacketTypeBits{
    1,  2,  3,  7,  8,  9,  10, 11, 12, 13, 14, 15, 16,
    17, 18, 19, 20, 21, 22, 23, 24, 25, 29, 30, 61, 63};

// Every bit set except those of unselected classes.
uint64_t encodePacketsTypeWord(const NettlebeamApiPacketsTypeFilter& filter);
std::array<uint8_t, kPacketsTypeBlockSize> encodePacketsTypeBlock(
    const NettlebeamApiPacketsTypeFilter& filter);
// Flags 0 or 1; nothing when the reply is short.
std::optional<NettlebeamApiPacketsTypeFilter> decodePacketsTypeBlock(
    std::span<const uint8_t> reply);

std::array<uint8_t, kDpiBlockSize> encodeDpiBlock(const NettlebeamApiDpiFilter& filter);
std::optional<NettlebeamApiDpiFilter> decodeDpiBlock(std::span<const uint8_t> reply);

std::array<uint8_t, kPacketFilterBlockSize> encodePacketFilterBlock(
    const NettlebeamApiPacketFilter& filter);
// Fills every field of `filter` from the block, keeping the caller's bits
// above the care mask (28..31 of careMaskLow, 20..31 of careMaskHigh) and
// the unused bytes. False (nothing written) when the reply is short.
bool decodePacketFilterBlock(std::span<const uint8_t> reply, NettlebeamApiPacketFilter& filter);

}  // namespace nettlebeam::codec
