// MAC text and the fields of the header filter and counter records: where
// each written byte lands in the record, which care bits it sets, and what
// the text forms refuse.
#include <gtest/gtest.h>

#include <cctype>
#include <cstring>
#include <string>

#include "counter_fields.h"
#include "mac_text.h"
#include "packet_filter_fields.h"

using namespace nettlebeam::records;

TEST(MacTextTest, SixGroupsOfTwoDigitsOrAWholeWildcardByte) {
    const auto parsed = parseMacWildcards("aa:**:CC:dd:**:0F");
    ASSERT_TRUE(parsed);
    EXPECT_EQ(parsed->address, (std::array<std::uint8_t, 6>{0xaa, 0, 0xcc, 0xdd, 0, 0x0f}));
    EXPECT_EQ(parsed->mask, (std::array<std::uint8_t, 6>{0xFF, 0, 0xFF, 0xFF, 0, 0xFF}));
    EXPECT_EQ(formatMacWildcards(parsed->address, parsed->mask), "aa:**:cc:dd:**:0f");
    for (const char* bad : {"", "aa:bb:cc", "aa:bb:cc:dd:ee:f", "aa:bb:cc:dd:ee:fff",
                            "aa:bb:cc:dd:ee:ff:", "aa-bb-cc-dd-ee-ff", "aa:bb:cc:dd:ee:f*",
                            "*a:bb:cc:dd:ee:ff", "aa:bb:cc:dd:ee: f", "aabb:cc:dd:ee:ff:"}) {
        EXPECT_FALSE(parseMacWildcards(bad)) << bad;
    }
    // Every printable character in either digit place: only the sixteen
    // digits in both cases make a byte.
    for (char c = '!'; c <= '~'; ++c) {
        const bool digit = std::isxdigit(static_cast<unsigned char>(c)) != 0;
        for (std::string text : {"#a:00:00:00:00:00", "00:00:00:00:00:a#"}) {
            text[text.find('#')] = c;
            EXPECT_EQ(parseMacWildcards(text).has_value(), digit) << text;
        }
    }
}

TEST(PacketFilterFieldsTest, WrittenBytesLandLastFirstWithTheirCareBits) {
    NettlebeamApiPacketFilter filter{};
    filter.careMaskLow = 0xF0000000u;  // the caller's bits above the care bits
    filter.careMaskHigh = 0xFFF00000u;
    ASSERT_TRUE(storeMacText(filter, FilterField::DstMac, "aa:**:cc:dd:**:ff"));
    EXPECT_EQ(filter.dstMac[5], 0xaa);
    EXPECT_EQ(filter.dstMac[0], 0xff);
    // Written bytes 1 and 4 are wildcards: record bytes 4 and 1, care bits 4 and 1.
    EXPECT_EQ(careMask(filter), 0b101101u);
    ASSERT_TRUE(storeAddressText(filter, FilterField::SrcIp, "192.168.*.7"));
    EXPECT_EQ(filter.srcIp[3], 192);
    EXPECT_EQ(filter.srcIp[0], 7);
    // Source IP bytes 38..41 are care bits 28..31; the wildcard is record byte 39.
    EXPECT_EQ(careMask(filter) >> 28, 0b1101u);
    storePort(filter, FilterField::DstPort, 65535);
    EXPECT_EQ(filter.dstPort, 65535);
    EXPECT_EQ(careMask(filter) >> 44, 0b0011u);
    EXPECT_EQ(filter.careMaskLow & 0xF0000000u, 0xF0000000u);
    EXPECT_EQ(filter.careMaskHigh & 0xFFF00000u, 0xFFF00000u);
    EXPECT_EQ(filterMacText(filter, FilterField::DstMac), "aa:**:cc:dd:**:ff");
    EXPECT_EQ(filterAddressText(filter, FilterField::SrcIp), "192.168.*.7");
    EXPECT_EQ(filterAddressText(filter, FilterField::DstIp), "*.*.*.*");

    // The same record bytes read as IPv6.
    filter.fieldFlags |= NETTLEBEAM_FILTER_IPV6;
    EXPECT_EQ(filterAddressText(filter, FilterField::SrcIp),
              "****:****:****:****:****:****:c0a8:**07");
    ASSERT_TRUE(storeAddressText(filter, FilterField::DstIp, "fe8*::1"));
    EXPECT_EQ(filter.dstIp[15], 0xfe);
    EXPECT_EQ(filter.dstIp[0], 0x01);
    // The half-wildcard byte 0x8* (record byte 36, care bit 26) is not compared.
    EXPECT_EQ((careMask(filter) >> 12) & 0xFFFF, 0xFFFFu & ~(1u << 14));
    EXPECT_EQ(filterAddressText(filter, FilterField::DstIp),
              "fe**:0000:0000:0000:0000:0000:0000:0001");

    // Refused text leaves the record as it was.
    const NettlebeamApiPacketFilter before = filter;
    EXPECT_FALSE(storeAddressText(filter, FilterField::DstIp, "10.1.2.3"));
    EXPECT_FALSE(storeMacText(filter, FilterField::SrcMac, "aa:bb"));
    const std::uint8_t tooMany[7] = {};
    EXPECT_FALSE(storeBytes(filter, FilterField::SrcMac, tooMany, tooMany));
    std::uint8_t readTooMany[17] = {};
    EXPECT_FALSE(loadBytes(filter, FilterField::SrcIp, readTooMany));
    EXPECT_EQ(std::memcmp(&before, &filter, sizeof filter), 0);
}

TEST(PacketFilterFieldsTest, PortsAreDecimalUpTo65535) {
    EXPECT_EQ(parsePort("0"), 0);
    EXPECT_EQ(parsePort("65535"), 65535);
    EXPECT_EQ(parsePort("010"), 10);  // decimal, leading zeros and all
    EXPECT_EQ(parsePort("000000000080"), 80);
    EXPECT_EQ(parsePort("+80"), 80);
    EXPECT_EQ(parsePort(" 80\t"), 80);
    for (const char* bad : {"", " ", "+", "65536", "065536", "99999999999", "-1", "-0", "0x50",
                            "1,000", "http", "8 0", "++1", "1e2"}) {
        EXPECT_FALSE(parsePort(bad)) << bad;
    }
}

TEST(CounterFieldsTest, AddressesAreKeptLastByteFirstAndShownForOneVersion) {
    NettlebeamApiCounterV2 counter{};
    counter.isIPv4 = 1;
    counter.isIPv6 = -1;
    const std::uint8_t ipv4[4] = {1, 0, 168, 192};
    const std::uint8_t ipv4Mask[4] = {0xFF, 0, 0xFF, 0xFF};
    std::memcpy(counter.ip, ipv4, 4);
    std::memcpy(counter.ipMask, ipv4Mask, 4);
    EXPECT_EQ(counterAddressText(counter), "192.168.*.1");
    EXPECT_TRUE(counterComparesAddress(counter));
    counter.isIPv6 = 1;  // both required: nothing to show
    EXPECT_EQ(counterAddressText(counter), "");
    EXPECT_FALSE(counterComparesAddress(counter));
    counter.isIPv4 = 0;
    std::memset(counter.ip, 0, 16);
    std::memset(counter.ipMask, 0xFF, 16);
    counter.ipMask[0] = 0;
    counter.ip[15] = 0xfe;
    counter.ip[14] = 0x80;
    EXPECT_EQ(counterAddressText(counter), "fe80:0000:0000:0000:0000:0000:0000:00**");
    std::memset(counter.ipMask, 0, 16);
    EXPECT_EQ(counterAddressText(counter), "****:****:****:****:****:****:****:****");
    EXPECT_FALSE(counterComparesAddress(counter));

    NettlebeamApiCounterV2 stored{};
    std::memset(stored.ip, 0x55, 16);
    storeCounterAddress(stored, *parseIpv4Wildcards("10.*.3.4"));
    EXPECT_EQ(stored.ip[3], 10);
    EXPECT_EQ(stored.ip[0], 4);
    EXPECT_EQ(stored.ipMask[2], 0);
    EXPECT_EQ(stored.ipMask[3], 0xFF);
    EXPECT_EQ(stored.ip[4], 0x55);  // beyond an IPv4 address: kept
    EXPECT_EQ(counterIpv4(stored).address, parseIpv4Wildcards("10.0.3.4")->address);
    storeCounterAddress(stored, *parseIpv6Wildcards("2001:db8::1"));
    EXPECT_EQ(stored.ip[15], 0x20);
    EXPECT_EQ(stored.ip[0], 0x01);
    EXPECT_EQ(stored.ipMask[15], 0xFF);
    EXPECT_EQ(formatWildcardAddress(counterIpv6(stored)),
              "2001:0db8:0000:0000:0000:0000:0000:0001");
}

TEST(CounterFieldsTest, SizeConditionsTakeAComparisonAndSixteenBits) {
    auto parsed = [](const char* text) {
        const auto condition = parseSizeCondition(text);
        return condition ? std::to_string(condition->mode) + ' ' + std::to_string(condition->size)
                         : std::string("failed");
    };
    EXPECT_EQ(parsed("any"), "-1 0");
    EXPECT_EQ(parsed("ANY"), "-1 0");
    EXPECT_EQ(parsed(">1000"), "0 1000");
    EXPECT_EQ(parsed("<0"), "1 0");
    EXPECT_EQ(parsed("=65535"), "2 65535");
    EXPECT_EQ(parsed("=01518"), "2 1518");
    for (const char* bad : {"", ">", "anything", "65", "=65536", "=99999", "=000001", ">-1", ">+1",
                            "> 1", "!1", ">1k"}) {
        EXPECT_EQ(parsed(bad), "failed") << bad;
    }
    EXPECT_EQ(sizeComparison(kSizeGreater), '>');
    EXPECT_EQ(sizeComparison(kSizeLess), '<');
    EXPECT_EQ(sizeComparison(kSizeEqual), '=');
    EXPECT_FALSE(sizeComparison(kSizeAny));
    EXPECT_FALSE(sizeComparison(3));
}

TEST(PacketFilterFieldsTest, OnlyTheFieldsInUseAreKept) {
    NettlebeamApiPacketFilter filter{};
    filter.enabled = 1;
    filter.fieldFlags = NETTLEBEAM_FILTER_SRC_IP | NETTLEBEAM_FILTER_DST_IP |
                        NETTLEBEAM_FILTER_DST_PORT | NETTLEBEAM_FILTER_SRC_MAC;
    filter.eitherDirection = NETTLEBEAM_FILTER_EITHER_IP;
    std::memset(filter.srcIp, 0x11, 16);
    std::memset(filter.dstIp, 0x22, 16);
    std::memset(filter.dstMac, 0x33, 6);  // its flag is not set
    filter.dstPort = 8080;
    filter.srcPort = 53;  // likewise
    setCareMask(filter, ~std::uint64_t{0});
    filter.careMaskLow |= 0xF0000000u;
    filter.careMaskHigh |= 0xFFF00000u;

    EXPECT_TRUE(filterUsesField(filter, FilterField::SrcIp));
    EXPECT_FALSE(filterUsesField(filter, FilterField::DstIp));  // either direction: source only
    EXPECT_TRUE(filterUsesField(filter, FilterField::DstPort));
    EXPECT_FALSE(filterUsesField(filter, FilterField::SrcPort));
    EXPECT_TRUE(filterUsesField(filter, FilterField::SrcMac));
    EXPECT_FALSE(filterUsesField(filter, FilterField::DstMac));

    const NettlebeamApiPacketFilter used = usedFieldsOnly(filter);
    EXPECT_EQ(used.enabled, 1);
    EXPECT_EQ(used.fieldFlags, filter.fieldFlags);
    EXPECT_EQ(used.eitherDirection, filter.eitherDirection);
    // IPv4: four bytes of the source address, none of the destination.
    EXPECT_EQ(used.srcIp[3], 0x11);
    EXPECT_EQ(used.srcIp[4], 0);
    EXPECT_EQ(used.dstIp[0], 0);
    EXPECT_EQ(used.dstMac[0], 0);
    EXPECT_EQ(used.dstPort, 8080);
    EXPECT_EQ(used.srcPort, 0);
    // Care bits: source MAC 6..11, source IP 28..31, destination port 44..45.
    EXPECT_EQ(careMask(used), (0x3Full << 6) | (0xFull << 28) | (0x3ull << 44));
    EXPECT_EQ(used.careMaskLow & 0xF0000000u, 0u);  // the caller's bits are not the filter's
    EXPECT_EQ(used.careMaskHigh & 0xFFF00000u, 0u);

    filter.fieldFlags |= NETTLEBEAM_FILTER_IPV6;
    EXPECT_EQ(usedFieldsOnly(filter).srcIp[15], 0x11);
    EXPECT_EQ(careMask(usedFieldsOnly(filter)) >> 28 & 0xFFFF, 0xFFFFu);

    clearField(filter, FilterField::SrcIp);
    EXPECT_EQ(filter.srcIp[15], 0);
    EXPECT_EQ(filter.srcIp[0], 0);
    EXPECT_EQ(careMask(filter) >> 28 & 0xFFFF, 0u);
    EXPECT_EQ(careMask(filter) >> 12 & 0xFFFF, 0xFFFFu);  // the destination IP keeps its bits
    EXPECT_EQ(filter.dstIp[0], 0x22);
}
