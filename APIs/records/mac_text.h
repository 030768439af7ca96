// MAC addresses with whole-byte wildcards, as the header filter shows and
// reads them: "aa:**:cc:dd:ee:ff". Bytes and mask are in written order; a
// mask byte 0xFF means the byte is compared.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace nettlebeam::records {

inline constexpr std::size_t kMacBytes = 6;

struct WildcardMac {
    std::array<std::uint8_t, kMacBytes> address{};
    std::array<std::uint8_t, kMacBytes> mask{};
};

// Exactly six groups joined by ':', each two hexadecimal digits of either
// case or "**". Nothing else is taken: not a short form, not '-', not a
// half-wildcard byte.
std::optional<WildcardMac> parseMacWildcards(std::string_view text);

// The bytes as lowercase two-digit groups joined by ':', "**" for a byte
// whose mask is not 0xFF. `mask` has at least as many bytes as `address`.
std::string formatMacWildcards(std::span<const std::uint8_t> address,
                               std::span<const std::uint8_t> mask);

}  // namespace nettlebeam::records
