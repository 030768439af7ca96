#include "wildcard_address.h"

#include <vector>

namespace nettlebeam::records {
namespace {

constexpr std::size_t kGroupDigits = 4;

// Every part between separators, empty ones included ("1..2" has three).
std::vector<std::string_view> split(std::string_view text, char separator) {
    std::vector<std::string_view> parts;
    std::size_t start = 0;
    for (;;) {
        const std::size_t end = text.find(separator, start);
        if (end == std::string_view::npos) {
            parts.push_back(text.substr(start));
            return parts;
        }
        parts.push_back(text.substr(start, end - start));
        start = end + 1;
    }
}

bool onlyWildcards(std::string_view part, char wildcard) {
    if (part.empty()) return false;
    for (const char c : part) {
        if (c != wildcard) return false;
    }
    return true;
}

// A decimal byte: one to three digits, below 256.
std::optional<std::uint8_t> decimalByte(std::string_view part) {
    if (part.empty() || part.size() > 3) return std::nullopt;
    int value = 0;
    for (const char c : part) {
        if (c < '0' || c > '9') return std::nullopt;
        value = value * 10 + (c - '0');
    }
    if (value > 255) return std::nullopt;
    return static_cast<std::uint8_t>(value);
}

std::optional<unsigned> hexDigit(char c) {
    if (c >= '0' && c <= '9') return static_cast<unsigned>(c - '0');
    if (c >= 'a' && c <= 'f') return static_cast<unsigned>(c - 'a' + 10);
    if (c >= 'A' && c <= 'F') return static_cast<unsigned>(c - 'A' + 10);
    return std::nullopt;
}

// One group of up to four characters, right-aligned into bytes `at` and `at + 1`.
bool putGroup(std::string_view group, std::size_t at, char wildcard, WildcardAddress& out) {
    if (group.size() > kGroupDigits) return false;
    unsigned value = 0;
    unsigned mask = 0xFFFF;
    const std::size_t padding = kGroupDigits - group.size();
    for (std::size_t i = 0; i < group.size(); ++i) {
        const unsigned shift = static_cast<unsigned>(4 * (kGroupDigits - 1 - (padding + i)));
        const char c = group[i];
        if (c == wildcard) {
            mask &= ~(0xFu << shift);
            continue;
        }
        const std::optional<unsigned> digit = hexDigit(c);
        if (!digit) return false;
        value |= *digit << shift;
    }
    out.address[at] = static_cast<std::uint8_t>(value >> 8);
    out.address[at + 1] = static_cast<std::uint8_t>(value);
    out.mask[at] = static_cast<std::uint8_t>(mask >> 8);
    out.mask[at + 1] = static_cast<std::uint8_t>(mask);
    return true;
}

}  // namespace

std::optional<WildcardAddress> parseIpv4Wildcards(std::string_view text, char wildcard) {
    WildcardAddress parsed;
    if (text.empty()) return parsed;
    const std::vector<std::string_view> parts = split(text, '.');
    if (parts.size() != kIpv4Bytes) return std::nullopt;
    for (std::size_t i = 0; i < kIpv4Bytes; ++i) {
        if (onlyWildcards(parts[i], wildcard)) continue;
        const std::optional<std::uint8_t> value = decimalByte(parts[i]);
        if (!value) return std::nullopt;
        parsed.address[i] = *value;
        parsed.mask[i] = 0xFF;
    }
    return parsed;
}

std::optional<WildcardAddress> parseIpv6Wildcards(std::string_view text, char wildcard) {
    for (const char c : text) {
        if (c != wildcard && c != ':' && !hexDigit(c)) return std::nullopt;
    }
    WildcardAddress parsed;
    parsed.ipv6 = true;
    if (text.empty()) return parsed;
    parsed.mask.fill(0xFF);

    // The groups left of "::" (or of a final ':') fill from byte 0 up, the
    // groups right of it from byte 14 down.
    std::string_view left = text;
    std::string_view right;
    const std::size_t gap = text.find("::");
    const bool hasGap = gap != std::string_view::npos;
    if (hasGap) {
        if (text.find("::", gap + 1) != std::string_view::npos) return std::nullopt;
        left = text.substr(0, gap);
        right = text.substr(gap + 2);
    } else if (text.back() == ':') {
        left.remove_suffix(1);
    }

    std::size_t leftEnd = 0;
    if (!left.empty() || !hasGap) {
        const std::vector<std::string_view> groups = split(left, ':');
        for (std::size_t i = 0; i < groups.size(); ++i) {
            const std::size_t at = 2 * i;
            if (at > kIpv6Bytes - 2 || !putGroup(groups[i], at, wildcard, parsed))
                return std::nullopt;
        }
        leftEnd = 2 * groups.size();
    }
    if (!right.empty()) {
        const std::vector<std::string_view> groups = split(right, ':');
        for (std::size_t i = 0; i < groups.size(); ++i) {
            // Past the left end of the address the group cannot be placed.
            if (2 * i > kIpv6Bytes - 2) return std::nullopt;
            const std::size_t at = kIpv6Bytes - 2 - 2 * i;
            if (at < leftEnd || !putGroup(groups[groups.size() - 1 - i], at, wildcard, parsed))
                return std::nullopt;
        }
    }
    return parsed;
}

std::optional<std::string> formatWildcardAddress(std::span<const std::uint8_t> address,
                                                 std::span<const std::uint8_t> mask,
                                                 char wildcard) {
    if (address.size() != mask.size()) return std::nullopt;
    if (address.size() != kIpv4Bytes && address.size() != kIpv6Bytes) return std::nullopt;
    const bool ipv6 = address.size() == kIpv6Bytes;
    static constexpr char kDigits[] = "0123456789abcdef";
    std::string text;
    for (std::size_t i = 0; i < address.size(); ++i) {
        const std::uint8_t byte = address[i];
        const bool compared = mask[i] == 0xFF;
        if (ipv6) {
            if (compared) {
                text += kDigits[byte >> 4];
                text += kDigits[byte & 0xF];
            } else {
                text.append(2, wildcard);
            }
            if (i % 2 == 1 && i != kIpv6Bytes - 1) text += ':';
        } else {
            if (i > 0) text += '.';
            text += compared ? std::to_string(byte) : std::string(1, wildcard);
        }
    }
    return text;
}

std::string formatWildcardAddress(const WildcardAddress& address, char wildcard) {
    return *formatWildcardAddress(address.addressBytes(), address.maskBytes(), wildcard);
}

}  // namespace nettlebeam::records
