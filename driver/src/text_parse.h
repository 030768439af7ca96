// Parsing of the numbers and byte strings that the command line and fleet
// files carry. Every parser rejects trailing junk and out-of-range values.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace nettlebeam::driver {

// Decimal, or hexadecimal with a 0x prefix; optional leading '-' for signed.
std::optional<uint64_t> parseUnsigned(const std::string& text, uint64_t max);
std::optional<int64_t> parseSigned(const std::string& text, int64_t min, int64_t max);
// Hex digits in pairs; spaces and colons between them are ignored.
std::optional<std::vector<uint8_t>> parseHexBytes(const std::string& text);
// "A.B.C.D", each 0-255, first component first.
std::optional<std::array<uint8_t, 4>> parseDottedVersion(const std::string& text);
// "aa:bb:cc:dd:ee:ff" (or with '-').
std::optional<std::array<uint8_t, 6>> parseMac(const std::string& text);

std::string formatMac(const std::array<uint8_t, 6>& mac);

}  // namespace nettlebeam::driver
