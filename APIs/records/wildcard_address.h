// IP addresses with per-byte wildcards, as the filter and counter editors and
// beamctl show and read them: "10.1.*.*", "fe80:****::1". An address travels
// with a mask of the same version, both in written order (the first dotted
// number or the first digits first); a mask byte 0xFF means the byte is
// compared, any other value makes it (or half of it) a wildcard.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace nettlebeam::records {

inline constexpr std::size_t kIpv4Bytes = 4;
inline constexpr std::size_t kIpv6Bytes = 16;

struct WildcardAddress {
    bool ipv6 = false;
    // The first size() bytes are used.
    std::array<std::uint8_t, kIpv6Bytes> address{};
    std::array<std::uint8_t, kIpv6Bytes> mask{};

    std::size_t size() const { return ipv6 ? kIpv6Bytes : kIpv4Bytes; }
    std::span<const std::uint8_t> addressBytes() const { return {address.data(), size()}; }
    std::span<const std::uint8_t> maskBytes() const { return {mask.data(), size()}; }
};

// Dotted IPv4 text, each of the four parts a decimal number below 256 or
// wildcard characters only ("*", "**"). The empty text is 0.0.0.0 with mask
// 0.0.0.0, which matches anything. Short forms such as "10.1" are refused:
// they would put the numbers in other bytes than the mask says.
std::optional<WildcardAddress> parseIpv4Wildcards(std::string_view text, char wildcard = '*');

// IPv6 text of up to eight groups of at most four hexadecimal digits or
// wildcard characters; one "::" (or a final ':') reads the rest from the right
// end. A wildcard character makes its nibble a wildcard; groups not written,
// and the missing leading digits of a short group, are compared zeros. Fails
// on any other character, a group of more than four characters, more than
// eight groups, a second "::" or groups on both sides of "::" that overlap.
// The empty text is all zeros with an all-wildcard mask.
std::optional<WildcardAddress> parseIpv6Wildcards(std::string_view text, char wildcard = '*');

// IPv6 (16 bytes): eight groups of four lowercase hexadecimal digits joined by
// ':', a byte whose mask is not 0xFF written as two wildcard characters. IPv4
// (4 bytes): the four decimal bytes joined by '.', a byte whose mask is not
// 0xFF written as one wildcard character. Nothing for any other size or a
// mask of another size than the address.
std::optional<std::string> formatWildcardAddress(std::span<const std::uint8_t> address,
                                                 std::span<const std::uint8_t> mask,
                                                 char wildcard = '*');
std::string formatWildcardAddress(const WildcardAddress& address, char wildcard = '*');

}  // namespace nettlebeam::records
