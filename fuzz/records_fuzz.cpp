// Addresses and record fields as text, as the window's editors and beamctl
// read them from a user: whatever the text, a parser either refuses it or
// gives an address whose shown text reads back to the same compared bytes,
// and a record written from text shows that text again.
#include <fuzzer/FuzzedDataProvider.h>

#include <string>

#include "counter_fields.h"
#include "fuzz_check.h"
#include "mac_text.h"
#include "packet_filter_fields.h"
#include "wildcard_address.h"

using namespace nettlebeam::records;

namespace {

// The bytes a formatted address keeps: compared bytes, zero elsewhere (the
// text writes a whole-byte wildcard for any mask other than 0xFF).
WildcardAddress shownPart(const WildcardAddress& address) {
    WildcardAddress shown = address;
    for (std::size_t i = 0; i < shown.size(); ++i) {
        const bool compared = address.mask[i] == 0xFF;
        shown.address[i] = compared ? address.address[i] : 0;
        shown.mask[i] = compared ? 0xFF : 0;
    }
    return shown;
}

void checkAddress(const std::optional<WildcardAddress>& parsed, bool ipv6) {
    if (!parsed) return;
    FUZZ_CHECK(parsed->ipv6 == ipv6);
    const std::string text = formatWildcardAddress(*parsed);
    const auto again = ipv6 ? parseIpv6Wildcards(text) : parseIpv4Wildcards(text);
    FUZZ_CHECK(again.has_value());
    const WildcardAddress expected = shownPart(*parsed);
    FUZZ_CHECK(again->address == expected.address && again->mask == expected.mask);
    FUZZ_CHECK(formatWildcardAddress(*again) == text);

    NettlebeamApiCounterV2 counter{};
    storeCounterAddress(counter, *parsed);
    const WildcardAddress stored = ipv6 ? counterIpv6(counter) : counterIpv4(counter);
    FUZZ_CHECK(stored.address == parsed->address && stored.mask == parsed->mask);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzedDataProvider input(data, size);
    // From the end of the input: a star, or any character after a zero byte.
    const char wildcard = input.ConsumeBool() ? '*' : input.ConsumeIntegral<char>();
    const std::string text = input.ConsumeRemainingBytesAsString();

    checkAddress(parseIpv4Wildcards(text, wildcard), false);
    checkAddress(parseIpv6Wildcards(text, wildcard), true);

    if (const auto mac = parseMacWildcards(text)) {
        const std::string shown = formatMacWildcards(mac->address, mac->mask);
        const auto again = parseMacWildcards(shown);
        FUZZ_CHECK(again && again->address == mac->address && again->mask == mac->mask);
    }
    if (const auto port = parsePort(text)) {
        FUZZ_CHECK(parsePort(std::to_string(*port)) == port);
    }
    if (const auto size = parseSizeCondition(text)) {
        FUZZ_CHECK(size->size >= 0 && size->size <= kLargestSize);
        FUZZ_CHECK(sizeComparison(size->mode).has_value() == (size->mode != kSizeAny));
    }

    // The header filter keeps what it was given, in both IP versions.
    for (const bool ipv6 : {false, true}) {
        NettlebeamApiPacketFilter filter{};
        filter.fieldFlags = ipv6 ? NETTLEBEAM_FILTER_IPV6 : 0;
        if (storeAddressText(filter, FilterField::SrcIp, text)) {
            const std::string shown = filterAddressText(filter, FilterField::SrcIp);
            NettlebeamApiPacketFilter again{};
            again.fieldFlags = filter.fieldFlags;
            FUZZ_CHECK(storeAddressText(again, FilterField::SrcIp, shown));
            FUZZ_CHECK(filterAddressText(again, FilterField::SrcIp) == shown);
        }
    }
    return 0;
}
