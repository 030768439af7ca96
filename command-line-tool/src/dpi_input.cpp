#include "dpi_input.h"

#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace beamctl {

void applyTextPattern(const char* text, NettlebeamApiDpiFilter& filter) {
    const std::size_t length = std::strlen(text);
    for (int i = 0; i < kDpiPatternBytes; ++i) {
        filter.pattern[i] =
            static_cast<std::uint8_t>(static_cast<std::size_t>(i) < length ? text[i] : 0);
    }
}

bool applyHexPattern(const char* hex, NettlebeamApiDpiFilter& filter) {
    if (std::strlen(hex) != 2 * kDpiPatternBytes) return false;
    std::uint8_t bytes[kDpiPatternBytes];
    for (int i = 0; i < kDpiPatternBytes; ++i) {
        const char pair[3] = {hex[2 * i], hex[2 * i + 1], '\0'};
        if (!std::isxdigit(static_cast<unsigned char>(pair[0])) ||
            !std::isxdigit(static_cast<unsigned char>(pair[1]))) {
            return false;
        }
        unsigned value = 0;
        if (std::sscanf(pair, "%02x", &value) != 1) return false;
        bytes[i] = static_cast<std::uint8_t>(value);
    }
    std::memcpy(filter.pattern, bytes, sizeof bytes);
    return true;
}

std::optional<std::uint32_t> parseMask(const char* text) {
    if (text == nullptr || *text == '\0') return std::nullopt;
    // strtoull would take a sign or leading blanks; a mask has neither.
    if (!std::isxdigit(static_cast<unsigned char>(*text))) return std::nullopt;
    errno = 0;
    char* end = nullptr;
    const unsigned long long value = std::strtoull(text, &end, 16);
    if (*end != '\0' || errno == ERANGE || value > 0xFFFFFFFFull) return std::nullopt;
    return static_cast<std::uint32_t>(value);
}

}  // namespace beamctl
