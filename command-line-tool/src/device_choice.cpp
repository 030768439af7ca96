#include "device_choice.h"

#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <limits>

#include "text.h"

namespace beamctl {
namespace {

int hexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    const int lower = std::tolower(static_cast<unsigned char>(c));
    if (lower >= 'a' && lower <= 'f') return lower - 'a' + 10;
    return -1;
}

std::optional<Mac> macFrom(const std::string& text) {
    // Six pairs and five separators.
    if (text.size() != 17) return std::nullopt;
    Mac mac{};
    for (std::size_t byte = 0; byte < mac.size(); ++byte) {
        const std::size_t at = byte * 3;
        const int high = hexDigit(text[at]);
        const int low = hexDigit(text[at + 1]);
        if (high < 0 || low < 0) return std::nullopt;
        if (byte + 1 < mac.size() && text[at + 2] != ':' && text[at + 2] != '-') {
            return std::nullopt;
        }
        mac[byte] = static_cast<std::uint8_t>(high * 16 + low);
    }
    return mac;
}

std::optional<long long> positionFrom(const std::string& text) {
    std::size_t digits = (text[0] == '-' || text[0] == '+') ? 1 : 0;
    if (digits == text.size()) return std::nullopt;
    for (std::size_t i = digits; i < text.size(); ++i) {
        if (!std::isdigit(static_cast<unsigned char>(text[i]))) return std::nullopt;
    }
    errno = 0;
    const long long value = std::strtoll(text.c_str(), nullptr, 10);
    // A position too large to hold names no device either: the largest value
    // stands for it.
    if (errno == ERANGE) return value < 0 ? -1 : std::numeric_limits<long long>::max();
    return value;
}

}  // namespace

std::optional<DeviceChoice> deviceChoiceFrom(const std::string& text) {
    if (text.empty()) return std::nullopt;
    if (const std::optional<Mac> mac = macFrom(text)) return DeviceChoice{std::nullopt, *mac};
    if (const std::optional<long long> position = positionFrom(text)) {
        return DeviceChoice{*position, std::nullopt};
    }
    return std::nullopt;
}

std::optional<DeviceChoice> deviceChoiceOf(const arg_rex* option) {
    if (option->count <= 0) return DeviceChoice{};
    return deviceChoiceFrom(option->sval[0]);
}

std::string macText(const Mac& mac) {
    return format("%02x:%02x:%02x:%02x:%02x:%02x", mac[0], mac[1], mac[2], mac[3], mac[4], mac[5]);
}

}  // namespace beamctl
