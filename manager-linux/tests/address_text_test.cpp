// The QString faces of the address parsers and the formatter, and the two
// validators of the filter and counter editors.
#include <gtest/gtest.h>

#include <QObject>
#include <cctype>

#include "addresstext.h"
#include "qipvalidator.h"
#include "qmacvalidator.h"

void PrintTo(const QString& text, std::ostream* out) {
    *out << '"' << text.toStdString() << '"';
}

namespace {

// "hex of the address / hex of the mask", for compact expectations.
QString bytesOf(const std::optional<WildcardAddress>& parsed) {
    if (!parsed) return QStringLiteral("failed");
    return QString::fromLatin1(addressBytes(parsed->address).toHex()) + u'/' +
           QString::fromLatin1(addressBytes(parsed->mask).toHex());
}

QString ipv4(const char* text) {
    return bytesOf(parseIpv4Wildcards(QString::fromLatin1(text)));
}
QString ipv6(const char* text) {
    return bytesOf(parseIpv6Wildcards(QString::fromLatin1(text)));
}

}  // namespace

// The parsers' rules are checked in the records library's own tests; these
// check what the QString and QHostAddress faces add: the address version,
// text outside ASCII and the wildcard character.
TEST(AddressTextTest, Ipv4WildcardPartsGiveZeroBytesWithoutCare) {
    EXPECT_EQ(ipv4("10.1.*.*"), QStringLiteral("0a010000/ffff0000"));
    EXPECT_EQ(ipv4(""), QStringLiteral("00000000/00000000"));
    const auto parsed = parseIpv4Wildcards(QStringLiteral("10.1.*.*"));
    ASSERT_TRUE(parsed);
    EXPECT_EQ(parsed->address.protocol(), QAbstractSocket::IPv4Protocol);
    EXPECT_EQ(parsed->mask, QHostAddress(QStringLiteral("255.255.0.0")));
    EXPECT_EQ(parseIpv4Wildcards(QString())->address.protocol(), QAbstractSocket::IPv4Protocol);
    // Digits and wildcards outside ASCII are no digits and no wildcards.
    EXPECT_FALSE(parseIpv4Wildcards(QStringLiteral("\uFF11.0.0.1")));
    EXPECT_FALSE(parseIpv4Wildcards(QStringLiteral("10.1.\u00B2.3")));
    EXPECT_EQ(bytesOf(parseIpv4Wildcards(QStringLiteral("10.?.3.4"), u'?')),
              QStringLiteral("0a000304/ff00ffff"));
    EXPECT_FALSE(parseIpv4Wildcards(QStringLiteral("10.\u00D7.3.4"), u'\u00D7'));
    EXPECT_EQ(ipv4("256.1.1.1"), QStringLiteral("failed"));
}

TEST(AddressTextTest, Ipv6GroupsFillFromBothEndsAndWildcardsClearNibbles) {
    EXPECT_EQ(ipv6("fe80::1"),
              QStringLiteral("fe800000000000000000000000000001/") + QString(32, u'f'));
    EXPECT_EQ(ipv6(""), QString(32, u'0') + u'/' + QString(32, u'0'));
    const auto parsed = parseIpv6Wildcards(QStringLiteral("fe8*::1"));
    ASSERT_TRUE(parsed);
    EXPECT_EQ(parsed->address, QHostAddress(QStringLiteral("fe80::1")));
    EXPECT_EQ(parsed->mask.protocol(), QAbstractSocket::IPv6Protocol);
    EXPECT_EQ(parseIpv6Wildcards(QString())->mask.protocol(), QAbstractSocket::IPv6Protocol);
    EXPECT_FALSE(parseIpv6Wildcards(QStringLiteral("fe80::\uFF11")));
    EXPECT_FALSE(parseIpv6Wildcards(QStringLiteral("fe80::\u00E9")));
    EXPECT_EQ(ipv6("1::2::3"), QStringLiteral("failed"));
}

TEST(AddressTextTest, FormatterWritesEveryByteOrItsWildcard) {
    const auto fe80 = parseIpv6Wildcards(QStringLiteral("fe80:****:0::"));
    ASSERT_TRUE(fe80);
    EXPECT_EQ(formatWildcardAddress(fe80->address, fe80->mask),
              QStringLiteral("fe80:****:0000:0000:0000:0000:0000:0000"));
    const auto half = parseIpv6Wildcards(QStringLiteral("fe8*::"));
    EXPECT_EQ(formatWildcardAddress(half->address, half->mask, u'?'),
              QStringLiteral("fe??:0000:0000:0000:0000:0000:0000:0000"));
    EXPECT_FALSE(formatWildcardAddress(half->address, half->mask, u'\u00D7'));
    const auto local = parseIpv4Wildcards(QStringLiteral("192.168.*.*"));
    EXPECT_EQ(formatWildcardAddress(local->address, local->mask), QStringLiteral("192.168.*.*"));
    EXPECT_FALSE(formatWildcardAddress(QHostAddress(), QHostAddress()));
    EXPECT_FALSE(formatWildcardAddress(local->address, fe80->mask));
    EXPECT_FALSE(formatWildcardAddress(fe80->address, QHostAddress()));

    // To the library's form and back, and nothing for mixed versions.
    for (const auto& parsed : {*fe80, *half, *local}) {
        const auto converted = toRecords(parsed);
        ASSERT_TRUE(converted);
        const WildcardAddress back = fromRecords(*converted);
        EXPECT_EQ(back.address, parsed.address);
        EXPECT_EQ(back.mask, parsed.mask);
    }
    EXPECT_FALSE(toRecords({local->address, fe80->mask}));
    EXPECT_FALSE(toRecords({QHostAddress(), QHostAddress()}));
}

TEST(AddressTextTest, ValidatorsAcceptOnlyWhatTheFieldsCanHold) {
    QObject parent;
    const QIpValidator both(&parent, true, true);
    const QIpValidator onlyIpv4(&parent, true, false);
    const QIpValidator onlyIpv6(&parent, false, true);
    const QMacValidator mac(&parent);
    auto state = [](const QValidator& validator, const char* text) {
        QString copy = QString::fromLatin1(text);
        int position = 0;
        return validator.validate(copy, position);
    };
    constexpr auto ok = QValidator::Acceptable;
    constexpr auto no = QValidator::Invalid;

    for (const char* text : {"", "10.1", "10.1.*.**", "255.255.255.255", "1..", "fe80::1",
                             "**:*a:a*:abcd::", "FE80::"}) {
        EXPECT_EQ(state(both, text), ok) << text;
    }
    for (const char* text : {"256.1.1.1", "1.2.3.4.5", "***.1.1.1", "1.-1", "fe80::12345",
                             "1:2:3:4:5:6:7:8:9", "a*b", "g::", "1.2::"}) {
        EXPECT_EQ(state(both, text), no) << text;
    }
    EXPECT_EQ(state(onlyIpv4, "fe80::1"), no);
    EXPECT_EQ(state(onlyIpv6, "10.1.2.3"), no);
    EXPECT_EQ(state(onlyIpv6, "fe80::1"), ok);

    for (const char* text : {"", "aa:bb:cc", "aa:**:*:0F:1:ff", ":::::"}) {
        EXPECT_EQ(state(mac, text), ok) << text;
    }
    for (const char* text : {"aa:bb:cc:dd:ee:ff:00", "aaa", "g0", "0x", "a-b", "***"}) {
        EXPECT_EQ(state(mac, text), no) << text;
    }
}

// Every printable character, in every place a digit may stand: the MAC and
// IPv6 fields take the sixteen hexadecimal digits in both cases, the IPv4
// field the ten decimal ones. The separators and the wildcard are left out:
// their places are checked above.
TEST(AddressTextTest, ValidatorsTakeDigitsOfBothCasesAndNothingNextToThem) {
    QObject parent;
    const QIpValidator onlyIpv4(&parent, true, false);
    const QIpValidator onlyIpv6(&parent, false, true);
    const QMacValidator mac(&parent);
    auto accepts = [](const QValidator& validator, const char* pattern, char c) {
        QString text = QString(pattern).replace(u'#', QLatin1Char(c));
        int position = 0;
        return validator.validate(text, position) == QValidator::Acceptable;
    };
    for (char c = '!'; c <= '~'; ++c) {
        const bool hex = std::isxdigit(static_cast<unsigned char>(c)) != 0;
        const bool decimal = std::isdigit(static_cast<unsigned char>(c)) != 0;
        if (c != '*' && c != ':') {
            for (const char* pattern : {"#", "0#", "#0", "aa:#", "aa:b#"})
                EXPECT_EQ(accepts(mac, pattern, c), hex) << "MAC " << pattern << " " << c;
            for (const char* pattern :
                 {"#", "0#", "#*", "*#", "**#", "1#**", "fe80::#", "#::", "1:2:3:4:5:6:7:#"}) {
                EXPECT_EQ(accepts(onlyIpv6, pattern, c), hex) << "IPv6 " << pattern << " " << c;
            }
        }
        if (c != '*' && c != '.') {
            for (const char* pattern : {"#", "1#", "10.#", "1.2.3.1#"})
                EXPECT_EQ(accepts(onlyIpv4, pattern, c), decimal) << "IPv4 " << pattern << " " << c;
        }
    }
}
