#include "counter_fields.h"

#include <cctype>

namespace nettlebeam::records {
namespace {

constexpr std::size_t kLargestSizeDigits = 5;

WildcardAddress addressOf(const NettlebeamApiCounterV2& counter, bool ipv6) {
    WildcardAddress address;
    address.ipv6 = ipv6;
    const std::size_t count = address.size();
    for (std::size_t i = 0; i < count; ++i) {
        address.address[i] = counter.ip[count - 1 - i];
        address.mask[i] = counter.ipMask[count - 1 - i];
    }
    return address;
}

bool requiresOneVersion(const NettlebeamApiCounterV2& counter) {
    return (counter.isIPv4 == 1) != (counter.isIPv6 == 1);
}

}  // namespace

WildcardAddress counterIpv4(const NettlebeamApiCounterV2& counter) {
    return addressOf(counter, false);
}

WildcardAddress counterIpv6(const NettlebeamApiCounterV2& counter) {
    return addressOf(counter, true);
}

void storeCounterAddress(NettlebeamApiCounterV2& counter, const WildcardAddress& address) {
    const std::size_t count = address.size();
    for (std::size_t i = 0; i < count; ++i) {
        counter.ip[count - 1 - i] = address.address[i];
        counter.ipMask[count - 1 - i] = address.mask[i];
    }
}

std::string counterAddressText(const NettlebeamApiCounterV2& counter) {
    if (!requiresOneVersion(counter)) return {};
    return formatWildcardAddress(counter.isIPv4 == 1 ? counterIpv4(counter) : counterIpv6(counter));
}

bool counterComparesAddress(const NettlebeamApiCounterV2& counter) {
    if (!requiresOneVersion(counter)) return false;
    const WildcardAddress address =
        counter.isIPv4 == 1 ? counterIpv4(counter) : counterIpv6(counter);
    for (const std::uint8_t byte : address.maskBytes()) {
        if (byte == 0xFF) return true;
    }
    return false;
}

std::optional<char> sizeComparison(std::int32_t sizeMode) {
    switch (sizeMode) {
        case kSizeGreater:
            return '>';
        case kSizeLess:
            return '<';
        case kSizeEqual:
            return '=';
        default:
            return std::nullopt;
    }
}

std::optional<SizeCondition> parseSizeCondition(std::string_view text) {
    if (text.size() == 3 && std::tolower(static_cast<unsigned char>(text[0])) == 'a' &&
        std::tolower(static_cast<unsigned char>(text[1])) == 'n' &&
        std::tolower(static_cast<unsigned char>(text[2])) == 'y') {
        return SizeCondition{};
    }
    if (text.size() < 2) return std::nullopt;
    const std::string_view digits = text.substr(1);
    if (digits.size() > kLargestSizeDigits) return std::nullopt;
    std::int32_t value = 0;
    for (const char c : digits) {
        if (c < '0' || c > '9') return std::nullopt;
        value = value * 10 + (c - '0');
    }
    if (value > kLargestSize) return std::nullopt;
    switch (text[0]) {
        case '>':
            return SizeCondition{kSizeGreater, value};
        case '<':
            return SizeCondition{kSizeLess, value};
        case '=':
            return SizeCondition{kSizeEqual, value};
        default:
            return std::nullopt;
    }
}

}  // namespace nettlebeam::records
