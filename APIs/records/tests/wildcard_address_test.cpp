// The wildcard address parsers and the formatter, at the edges of what they
// take: byte values, group widths, the place of "::" and the mask's version.
#include "wildcard_address.h"

#include <gtest/gtest.h>

#include <string>

using namespace nettlebeam::records;

namespace {

std::string hex(std::span<const std::uint8_t> bytes) {
    static constexpr char kDigits[] = "0123456789abcdef";
    std::string text;
    for (const std::uint8_t byte : bytes) {
        text += kDigits[byte >> 4];
        text += kDigits[byte & 0xF];
    }
    return text;
}

// "hex of the address / hex of the mask", for compact expectations.
std::string bytesOf(const std::optional<WildcardAddress>& parsed) {
    if (!parsed) return "failed";
    return hex(parsed->addressBytes()) + '/' + hex(parsed->maskBytes());
}

std::string ipv4(const char* text) {
    return bytesOf(parseIpv4Wildcards(text));
}
std::string ipv6(const char* text) {
    return bytesOf(parseIpv6Wildcards(text));
}
std::string f(int count) {
    return std::string(static_cast<std::size_t>(count), 'f');
}
std::string zeros(int count) {
    return std::string(static_cast<std::size_t>(count), '0');
}

}  // namespace

TEST(WildcardAddressTest, Ipv4WildcardPartsGiveZeroBytesWithoutCare) {
    EXPECT_EQ(ipv4("10.1.*.*"), "0a010000/ffff0000");
    EXPECT_EQ(ipv4("192.168.*.*"), "c0a80000/ffff0000");
    EXPECT_EQ(ipv4("*.**.7.255"), "000007ff/0000ffff");
    EXPECT_EQ(ipv4("010.0.0.1"), "0a000001/ffffffff");  // decimal, not octal
    EXPECT_EQ(ipv4(""), "00000000/00000000");
    EXPECT_EQ(ipv4("255.255.255.255"), "ffffffff/ffffffff");
    EXPECT_EQ(ipv4("000.0.0.0"), "00000000/ffffffff");
    EXPECT_FALSE(parseIpv4Wildcards("1.2.3.4")->ipv6);
    for (const char* bad : {"10.1", "10.1.2", "10.1.2.3.4", "256.1.1.1", "1.1.1.256", "1*.1.1.1",
                            "10..1.2", "a.b.c.d", "::", " 10.1.2.3", "1234.1.1.1", "0000.1.1.1",
                            "1.2.3.4.", ".1.2.3", "-1.1.1.1", "+1.1.1.1"}) {
        EXPECT_EQ(ipv4(bad), "failed") << bad;
    }
    // Another wildcard character replaces the star, which is then refused.
    EXPECT_EQ(bytesOf(parseIpv4Wildcards("10.?.3.4", '?')), "0a000304/ff00ffff");
    EXPECT_EQ(bytesOf(parseIpv4Wildcards("10.*.3.4", '?')), "failed");
}

TEST(WildcardAddressTest, Ipv6GroupsFillFromBothEndsAndWildcardsClearNibbles) {
    EXPECT_EQ(ipv6("fe80::1"), "fe800000000000000000000000000001/" + f(32));
    EXPECT_EQ(ipv6("::"), zeros(32) + '/' + f(32));
    EXPECT_EQ(ipv6("1::"), "0001" + zeros(28) + '/' + f(32));
    EXPECT_EQ(ipv6("1:"), ipv6("1::"));
    EXPECT_EQ(ipv6(""), zeros(32) + '/' + zeros(32));
    EXPECT_TRUE(parseIpv6Wildcards("")->ipv6);
    // Half-wildcard bytes; a short group is right-aligned with cared-for zeros.
    EXPECT_EQ(ipv6("FE8*:*e:**::"), "fe80000e0000" + zeros(20) + '/' + "fff0ff0fff00" + f(20));
    EXPECT_EQ(ipv6("::1:2:3:4:5:6:7:8"), "00010002000300040005000600070008/" + f(32));
    EXPECT_EQ(ipv6("1:2:3:4:5:6:7:8"), ipv6("::1:2:3:4:5:6:7:8"));
    EXPECT_EQ(ipv6("1:2:3:4:5:6:7:8"), ipv6("1:2:3:4:5:6:7:8::"));
    // Four digits fill a group; the groups on both sides of "::" may meet.
    EXPECT_EQ(ipv6("ffff::"), "ffff" + zeros(28) + '/' + f(32));
    EXPECT_EQ(ipv6("1:2:3:4::5:6:7:8"), "00010002000300040005000600070008/" + f(32));
    EXPECT_EQ(ipv6("****:****:****:****:****:****:****:****"), zeros(32) + '/' + zeros(32));
    for (const char* bad :
         {"fffff::", "::fffff", "12345::", "1:2:3:4:5:6:7:8:9", "1::2::3", "::1::", ":::", "g::1",
          "1.2.3.4", "1:2:3:4:5::6:7:8:9", "::1:2:3:4:5:6:7:8:9", "1:2:3:4:5::4:5:6:7",
          "1:2:3:4:5:6:7:8::9", "fe80::1 ", "fe80:-1::"}) {
        EXPECT_EQ(ipv6(bad), "failed") << bad;
    }
}

TEST(WildcardAddressTest, FormatterWritesEveryByteOrItsWildcard) {
    const auto fe80 = parseIpv6Wildcards("fe80:****:0::");
    ASSERT_TRUE(fe80);
    EXPECT_EQ(formatWildcardAddress(*fe80), "fe80:****:0000:0000:0000:0000:0000:0000");
    // A half-wildcard byte is shown as a whole wildcard byte.
    const auto half = parseIpv6Wildcards("fe8*::");
    EXPECT_EQ(formatWildcardAddress(*half, '?'), "fe??:0000:0000:0000:0000:0000:0000:0000");
    const auto local = parseIpv4Wildcards("192.168.*.*");
    EXPECT_EQ(formatWildcardAddress(*local), "192.168.*.*");
    // Neither version, or a mask of the other version than the address.
    EXPECT_FALSE(
        formatWildcardAddress(std::span<const std::uint8_t>(), std::span<const std::uint8_t>()));
    EXPECT_FALSE(formatWildcardAddress(local->addressBytes(), fe80->maskBytes()));
    EXPECT_FALSE(formatWildcardAddress(fe80->addressBytes(), local->maskBytes()));
    const std::uint8_t five[5] = {1, 2, 3, 4, 5};
    EXPECT_FALSE(formatWildcardAddress(five, five));

    for (const char* text : {"10.*.0.255", "*.*.*.*", "0.0.0.0"}) {
        const auto parsed = parseIpv4Wildcards(text);
        ASSERT_TRUE(parsed) << text;
        EXPECT_EQ(formatWildcardAddress(*parsed), text);
    }
    const auto parsed = parseIpv6Wildcards("2001:0db8:**00:0000:0000:0000:00**:FFFF");
    ASSERT_TRUE(parsed);
    const std::string shown = formatWildcardAddress(*parsed);
    EXPECT_EQ(shown, "2001:0db8:**00:0000:0000:0000:00**:ffff");
    EXPECT_EQ(bytesOf(parseIpv6Wildcards(shown)), bytesOf(parsed));
}
