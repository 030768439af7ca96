#include "mac_text.h"

namespace nettlebeam::records {
namespace {

constexpr std::size_t kMacTextLength = 17;  // "aa:bb:cc:dd:ee:ff"

std::optional<unsigned> hexDigit(char c) {
    if (c >= '0' && c <= '9') return static_cast<unsigned>(c - '0');
    if (c >= 'a' && c <= 'f') return static_cast<unsigned>(c - 'a' + 10);
    if (c >= 'A' && c <= 'F') return static_cast<unsigned>(c - 'A' + 10);
    return std::nullopt;
}

}  // namespace

std::optional<WildcardMac> parseMacWildcards(std::string_view text) {
    if (text.size() != kMacTextLength) return std::nullopt;
    WildcardMac parsed;
    for (std::size_t i = 0; i < kMacBytes; ++i) {
        if (i > 0 && text[3 * i - 1] != ':') return std::nullopt;
        const std::string_view group = text.substr(3 * i, 2);
        if (group == "**") continue;
        const std::optional<unsigned> high = hexDigit(group[0]);
        const std::optional<unsigned> low = hexDigit(group[1]);
        if (!high || !low) return std::nullopt;
        parsed.address[i] = static_cast<std::uint8_t>(*high << 4 | *low);
        parsed.mask[i] = 0xFF;
    }
    return parsed;
}

std::string formatMacWildcards(std::span<const std::uint8_t> address,
                               std::span<const std::uint8_t> mask) {
    static constexpr char kDigits[] = "0123456789abcdef";
    std::string text;
    for (std::size_t i = 0; i < address.size(); ++i) {
        if (i > 0) text += ':';
        if (i < mask.size() && mask[i] == 0xFF) {
            text += kDigits[address[i] >> 4];
            text += kDigits[address[i] & 0xF];
        } else {
            text += "**";
        }
    }
    return text;
}

}  // namespace nettlebeam::records
