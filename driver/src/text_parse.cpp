#include "text_parse.h"

#include <cctype>
#include <cstdio>

namespace nettlebeam::driver {

namespace {

int hexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

std::optional<uint64_t> parseDigits(const std::string& text, size_t start, uint64_t max) {
    unsigned base = 10;
    if (text.size() > start + 2 && text[start] == '0' &&
        (text[start + 1] == 'x' || text[start + 1] == 'X')) {
        base = 16;
        start += 2;
    }
    if (start >= text.size()) return std::nullopt;
    uint64_t value = 0;
    for (size_t i = start; i < text.size(); ++i) {
        int digit = hexValue(text[i]);
        if (digit < 0 || static_cast<unsigned>(digit) >= base) return std::nullopt;
        auto d = static_cast<uint64_t>(digit);
        if (d > max || value > (max - d) / base) return std::nullopt;
        value = value * base + static_cast<uint64_t>(digit);
    }
    return value;
}

}  // namespace

std::optional<uint64_t> parseUnsigned(const std::string& text, uint64_t max) {
    return parseDigits(text, 0, max);
}

std::optional<int64_t> parseSigned(const std::string& text, int64_t min, int64_t max) {
    bool negative = !text.empty() && text[0] == '-';
    uint64_t limit = negative ? static_cast<uint64_t>(-(min + 1)) + 1 : static_cast<uint64_t>(max);
    if (negative && min >= 0) return std::nullopt;
    auto magnitude = parseDigits(text, negative ? 1 : 0, limit);
    if (!magnitude) return std::nullopt;
    if (!negative) return static_cast<int64_t>(*magnitude);
    if (*magnitude == 0) return 0;
    return -static_cast<int64_t>(*magnitude - 1) - 1;
}

std::optional<std::vector<uint8_t>> parseHexBytes(const std::string& text) {
    std::vector<uint8_t> bytes;
    int high = -1;
    for (char c : text) {
        if (c == ' ' || c == ':' || c == '\t') {
            if (high >= 0) return std::nullopt;  // a separator inside a byte
            continue;
        }
        int digit = hexValue(c);
        if (digit < 0) return std::nullopt;
        if (high < 0) {
            high = digit;
        } else {
            bytes.push_back(static_cast<uint8_t>(high << 4 | digit));
            high = -1;
        }
    }
    if (high >= 0) return std::nullopt;
    return bytes;
}

std::optional<std::array<uint8_t, 4>> parseDottedVersion(const std::string& text) {
    std::array<uint8_t, 4> parts{};
    size_t start = 0;
    for (size_t i = 0; i < 4; ++i) {
        size_t end = text.find('.', start);
        if ((i < 3) != (end != std::string::npos)) return std::nullopt;
        std::string part =
            text.substr(start, end == std::string::npos ? std::string::npos : end - start);
        if (part.empty() || part.size() > 3) return std::nullopt;
        for (char c : part)
            if (!std::isdigit(static_cast<unsigned char>(c))) return std::nullopt;
        auto value = parseUnsigned(part, 255);
        if (!value) return std::nullopt;
        parts[i] = static_cast<uint8_t>(*value);
        start = end + 1;
    }
    return parts;
}

std::optional<std::array<uint8_t, 6>> parseMac(const std::string& text) {
    if (text.size() != 17) return std::nullopt;
    std::array<uint8_t, 6> mac{};
    for (size_t i = 0; i < 6; ++i) {
        int high = hexValue(text[i * 3]);
        int low = hexValue(text[i * 3 + 1]);
        if (high < 0 || low < 0) return std::nullopt;
        if (i < 5 && text[i * 3 + 2] != ':' && text[i * 3 + 2] != '-') return std::nullopt;
        mac[i] = static_cast<uint8_t>(high << 4 | low);
    }
    return mac;
}

std::string formatMac(const std::array<uint8_t, 6>& mac) {
    char text[18];
    std::snprintf(text, sizeof(text), "%02x:%02x:%02x:%02x:%02x:%02x", mac[0], mac[1], mac[2],
                  mac[3], mac[4], mac[5]);
    return text;
}

}  // namespace nettlebeam::driver
