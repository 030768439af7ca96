// Turns the dpi options' texts into filter data and mask.
#pragma once

#include <NettlebeamAPI.h>

#include <cstdint>
#include <optional>

namespace beamctl {

constexpr int kDpiPatternBytes = 16;

// Copies the 16 character codes of `text` into the first pattern bytes.
void applyTextPattern(const char* text, NettlebeamApiDpiFilter& filter);

// Reads 32 hexadecimal digits, two per byte, into the first pattern bytes;
// false (filter unchanged) when the text is not exactly 32 hex digits.
bool applyHexPattern(const char* hex, NettlebeamApiDpiFilter& filter);

// The mask as an unsigned base-16 number (a leading "0x" is accepted);
// nothing when the text is empty, has anything after the number, or the
// number does not fit 32 bits.
std::optional<std::uint32_t> parseMask(const char* text);

}  // namespace beamctl
