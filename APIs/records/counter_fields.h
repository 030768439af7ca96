// The programmable counter record's address and size condition as the
// counter editor and beamctl show and read them. The record keeps the
// address last byte first: an IPv4 address in ip[3..0] (first dotted number
// in ip[3]), an IPv6 address in ip[15..0]; the mask alike, 0xFF for a
// compared byte.
#pragma once

#include <NettlebeamAPI.h>

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "wildcard_address.h"

namespace nettlebeam::records {

// The record's address and mask read as one of the two versions.
WildcardAddress counterIpv4(const NettlebeamApiCounterV2& counter);
WildcardAddress counterIpv6(const NettlebeamApiCounterV2& counter);

// Stores a parsed address of its version into the record's address and mask;
// the bytes of the record beyond the address's size are kept.
void storeCounterAddress(NettlebeamApiCounterV2& counter, const WildcardAddress& address);

// The address with '*' for wildcard bytes when the counter requires exactly
// one of IPv4 and IPv6; empty otherwise.
std::string counterAddressText(const NettlebeamApiCounterV2& counter);

// Whether any byte of the address the counter shows is compared.
bool counterComparesAddress(const NettlebeamApiCounterV2& counter);

// The size modes of the record: greater, less and equal; any other value
// does not test the size.
inline constexpr std::int32_t kSizeGreater = 0;
inline constexpr std::int32_t kSizeLess = 1;
inline constexpr std::int32_t kSizeEqual = 2;
inline constexpr std::int32_t kSizeAny = -1;
inline constexpr std::int32_t kLargestSize = 65535;  // the record keeps 16 bits

// '>', '<' or '=' for a size mode that tests the size, nothing otherwise.
std::optional<char> sizeComparison(std::int32_t sizeMode);

struct SizeCondition {
    std::int32_t mode = kSizeAny;
    std::int32_t size = 0;
};
// "any" (any case), or '>', '<' or '=' followed by one to five decimal
// digits of a number up to 65535.
std::optional<SizeCondition> parseSizeCondition(std::string_view text);

}  // namespace nettlebeam::records
