#include "packet_filter_fields.h"

#include <array>

#include "mac_text.h"
#include "wildcard_address.h"

namespace nettlebeam::records {
namespace {

constexpr int kFirstKeyOffset = 10;
constexpr int kLowCareBits = 28;
constexpr std::uint32_t kLowCareMask = (1u << kLowCareBits) - 1;
constexpr std::uint32_t kHighCareMask = (1u << 20) - 1;

static_assert(offsetof(NettlebeamApiPacketFilter, dstMac) == int(FilterField::DstMac));
static_assert(offsetof(NettlebeamApiPacketFilter, srcMac) == int(FilterField::SrcMac));
static_assert(offsetof(NettlebeamApiPacketFilter, dstIp) == int(FilterField::DstIp));
static_assert(offsetof(NettlebeamApiPacketFilter, srcIp) == int(FilterField::SrcIp));
static_assert(offsetof(NettlebeamApiPacketFilter, dstPort) == int(FilterField::DstPort));
static_assert(offsetof(NettlebeamApiPacketFilter, srcPort) == int(FilterField::SrcPort));

std::uint8_t* recordBytes(NettlebeamApiPacketFilter& filter) {
    return reinterpret_cast<std::uint8_t*>(&filter);
}
const std::uint8_t* recordBytes(const NettlebeamApiPacketFilter& filter) {
    return reinterpret_cast<const std::uint8_t*>(&filter);
}
std::uint64_t careBit(int offset) {
    return std::uint64_t{1} << (offset - kFirstKeyOffset);
}
int offsetOf(FilterField field) {
    return static_cast<int>(field);
}

bool isSpace(char c) {
    return c == ' ' || (c >= '\t' && c <= '\r');
}

}  // namespace

std::size_t fieldWidth(FilterField field) {
    switch (field) {
        case FilterField::DstMac:
        case FilterField::SrcMac:
            return kMacBytes;
        case FilterField::DstIp:
        case FilterField::SrcIp:
            return kIpv6Bytes;
        case FilterField::DstPort:
        case FilterField::SrcPort:
            return 2;
    }
    return 0;
}

std::uint64_t careMask(const NettlebeamApiPacketFilter& filter) {
    return (filter.careMaskLow & kLowCareMask) |
           (std::uint64_t{filter.careMaskHigh & kHighCareMask} << kLowCareBits);
}

void setCareMask(NettlebeamApiPacketFilter& filter, std::uint64_t mask) {
    filter.careMaskLow =
        (filter.careMaskLow & ~kLowCareMask) | (static_cast<std::uint32_t>(mask) & kLowCareMask);
    filter.careMaskHigh = (filter.careMaskHigh & ~kHighCareMask) |
                          (static_cast<std::uint32_t>(mask >> kLowCareBits) & kHighCareMask);
}

bool storeBytes(NettlebeamApiPacketFilter& filter, FilterField field,
                std::span<const std::uint8_t> bytes, std::span<const std::uint8_t> mask) {
    if (bytes.size() > fieldWidth(field)) return false;
    std::uint64_t care = careMask(filter);
    const int count = static_cast<int>(bytes.size());
    for (int i = 0; i < count; ++i) {
        const int offset = offsetOf(field) + count - 1 - i;
        recordBytes(filter)[offset] = bytes[i];
        if (static_cast<std::size_t>(i) < mask.size() && mask[i] == 0xFF) care |= careBit(offset);
    }
    setCareMask(filter, care);
    return true;
}

bool loadBytes(const NettlebeamApiPacketFilter& filter, FilterField field,
               std::span<std::uint8_t> bytes) {
    if (bytes.size() > fieldWidth(field)) return false;
    const int count = static_cast<int>(bytes.size());
    for (int i = 0; i < count; ++i) bytes[i] = recordBytes(filter)[offsetOf(field) + count - 1 - i];
    return true;
}

bool loadMask(const NettlebeamApiPacketFilter& filter, FilterField field,
              std::span<std::uint8_t> mask) {
    if (mask.size() > fieldWidth(field)) return false;
    const std::uint64_t care = careMask(filter);
    const int count = static_cast<int>(mask.size());
    for (int i = 0; i < count; ++i)
        mask[i] = (care & careBit(offsetOf(field) + count - 1 - i)) != 0 ? 0xFF : 0;
    return true;
}

void storePort(NettlebeamApiPacketFilter& filter, FilterField field, std::uint16_t port) {
    (field == FilterField::DstPort ? filter.dstPort : filter.srcPort) = port;
    setCareMask(filter, careMask(filter) | careBit(offsetOf(field)) | careBit(offsetOf(field) + 1));
}

std::optional<std::uint16_t> parsePort(std::string_view text) {
    while (!text.empty() && isSpace(text.front())) text.remove_prefix(1);
    while (!text.empty() && isSpace(text.back())) text.remove_suffix(1);
    if (!text.empty() && text.front() == '+') text.remove_prefix(1);
    if (text.empty()) return std::nullopt;
    unsigned value = 0;
    for (const char c : text) {
        if (c < '0' || c > '9') return std::nullopt;
        value = value * 10 + static_cast<unsigned>(c - '0');
        if (value > 0xFFFF) return std::nullopt;
    }
    return static_cast<std::uint16_t>(value);
}

bool filterIsIpv6(const NettlebeamApiPacketFilter& filter) {
    return (filter.fieldFlags & NETTLEBEAM_FILTER_IPV6) != 0;
}

bool filterUsesField(const NettlebeamApiPacketFilter& filter, FilterField field) {
    struct Use {
        std::uint32_t flag;
        std::uint16_t eitherBit;  // 0 for a source field
    };
    Use use{};
    switch (field) {
        case FilterField::DstMac:
            use = {NETTLEBEAM_FILTER_DST_MAC, NETTLEBEAM_FILTER_EITHER_MAC};
            break;
        case FilterField::SrcMac:
            use = {NETTLEBEAM_FILTER_SRC_MAC, 0};
            break;
        case FilterField::DstIp:
            use = {NETTLEBEAM_FILTER_DST_IP, NETTLEBEAM_FILTER_EITHER_IP};
            break;
        case FilterField::SrcIp:
            use = {NETTLEBEAM_FILTER_SRC_IP, 0};
            break;
        case FilterField::DstPort:
            use = {NETTLEBEAM_FILTER_DST_PORT, NETTLEBEAM_FILTER_EITHER_PORT};
            break;
        case FilterField::SrcPort:
            use = {NETTLEBEAM_FILTER_SRC_PORT, 0};
            break;
    }
    return (filter.fieldFlags & use.flag) != 0 && (filter.eitherDirection & use.eitherBit) == 0;
}

void clearField(NettlebeamApiPacketFilter& filter, FilterField field) {
    std::uint64_t care = careMask(filter);
    for (std::size_t i = 0; i < fieldWidth(field); ++i) {
        const int offset = offsetOf(field) + static_cast<int>(i);
        recordBytes(filter)[offset] = 0;
        care &= ~careBit(offset);
    }
    setCareMask(filter, care);
}

NettlebeamApiPacketFilter usedFieldsOnly(const NettlebeamApiPacketFilter& filter) {
    NettlebeamApiPacketFilter used{};
    used.enabled = filter.enabled;
    used.fieldFlags = filter.fieldFlags;
    used.eitherDirection = filter.eitherDirection;
    for (const FilterField field :
         {FilterField::DstMac, FilterField::SrcMac, FilterField::DstIp, FilterField::SrcIp,
          FilterField::DstPort, FilterField::SrcPort}) {
        if (!filterUsesField(filter, field)) continue;
        const bool address = field == FilterField::DstIp || field == FilterField::SrcIp;
        const std::size_t count = !address               ? fieldWidth(field)
                                  : filterIsIpv6(filter) ? kIpv6Bytes
                                                         : kIpv4Bytes;
        std::array<std::uint8_t, kIpv6Bytes> bytes{};
        std::array<std::uint8_t, kIpv6Bytes> mask{};
        loadBytes(filter, field, {bytes.data(), count});
        loadMask(filter, field, {mask.data(), count});
        storeBytes(used, field, std::span<const std::uint8_t>(bytes.data(), count),
                   std::span<const std::uint8_t>(mask.data(), count));
    }
    return used;
}

std::string filterAddressText(const NettlebeamApiPacketFilter& filter, FilterField field) {
    const std::size_t count = filterIsIpv6(filter) ? kIpv6Bytes : kIpv4Bytes;
    std::array<std::uint8_t, kIpv6Bytes> address{};
    std::array<std::uint8_t, kIpv6Bytes> mask{};
    if (!loadBytes(filter, field, {address.data(), count}) ||
        !loadMask(filter, field, {mask.data(), count})) {
        return {};
    }
    return formatWildcardAddress(std::span<const std::uint8_t>(address.data(), count),
                                 std::span<const std::uint8_t>(mask.data(), count))
        .value_or(std::string());
}

std::string filterMacText(const NettlebeamApiPacketFilter& filter, FilterField field) {
    std::array<std::uint8_t, kMacBytes> address{};
    std::array<std::uint8_t, kMacBytes> mask{};
    if (!loadBytes(filter, field, address) || !loadMask(filter, field, mask)) return {};
    return formatMacWildcards(address, mask);
}

bool storeAddressText(NettlebeamApiPacketFilter& filter, FilterField field, std::string_view text) {
    const std::optional<WildcardAddress> parsed =
        filterIsIpv6(filter) ? parseIpv6Wildcards(text) : parseIpv4Wildcards(text);
    return parsed && storeBytes(filter, field, parsed->addressBytes(), parsed->maskBytes());
}

bool storeMacText(NettlebeamApiPacketFilter& filter, FilterField field, std::string_view text) {
    const std::optional<WildcardMac> parsed = parseMacWildcards(text);
    return parsed && storeBytes(filter, field, parsed->address, parsed->mask);
}

}  // namespace nettlebeam::records
