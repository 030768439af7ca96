// The three filter editors as a user drives them: texts typed into the
// header filter and the record it fills, the packet-type boxes bound to
// their record bytes, and the DPI pattern edited with real key events.
#include <gtest/gtest.h>

#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QSignalSpy>
#include <QTest>
#include <cctype>
#include <cstring>

#include "filtercontrol.h"
#include "packetstypefilter.h"
#include "simplefiltercontrol.h"

void PrintTo(const QString& text, std::ostream* out) {
    *out << '"' << text.toStdString() << '"';
}

namespace {

template <typename T>
T* child(QWidget& parent, const char* name) {
    T* widget = parent.findChild<T*>(QString::fromLatin1(name));
    EXPECT_NE(widget, nullptr) << name;
    return widget;
}

bool sameRecord(const NettlebeamApiPacketFilter& a, const NettlebeamApiPacketFilter& b) {
    return std::memcmp(&a, &b, sizeof a) == 0;
}

}  // namespace

class SimpleFilterControlTest : public ::testing::Test {
  protected:
    QLineEdit* edit(const char* name) { return child<QLineEdit>(panel_, name); }
    QCheckBox* box(const char* name) { return child<QCheckBox>(panel_, name); }
    QComboBox* combo(const char* name) { return child<QComboBox>(panel_, name); }
    bool red(const char* name) { return edit(name)->styleSheet() == QStringLiteral("color: red"); }

    SimpleFilterControl panel_;
    NettlebeamApiPacketFilter out_{};
};

TEST_F(SimpleFilterControlTest, ARecordShowsAsTextAndFillsBackUnchanged) {
    NettlebeamApiPacketFilter record{};
    record.fieldFlags = 0x7F;                                        // IPv6, every field used
    const uint8_t dstMac[6] = {0xff, 0x00, 0xdd, 0xcc, 0x00, 0xaa};  // last byte first
    std::memcpy(record.dstMac, dstMac, 6);
    record.srcMac[0] = 0x01;
    // fe80:****:...:0001 as destination, source all zero and compared.
    record.dstIp[15] = 0xfe;
    record.dstIp[14] = 0x80;
    record.dstIp[0] = 0x01;
    record.dstPort = 65535;
    record.srcPort = 8080;
    // dstMac bytes 0,2,3,5 (wildcards "**" at written bytes 1 and 4); srcMac all;
    // dstIp all but record bytes 12 and 13 (written bytes 3, 2); srcIp all; both ports.
    const uint64_t care =
        0b101101ull | (0x3Full << 6) | (0xCFFFull << 12) | (0xFFFFull << 28) | (0xFull << 44);
    record.careMaskLow = static_cast<uint32_t>(care & 0x0FFFFFFF);
    record.careMaskHigh = static_cast<uint32_t>(care >> 28);
    panel_.setFilter(record);

    EXPECT_EQ(edit("dstMacTB")->text(), QStringLiteral("aa:**:cc:dd:**:ff"));
    EXPECT_EQ(edit("srcMacTB")->text(), QStringLiteral("00:00:00:00:00:01"));
    EXPECT_EQ(edit("dstIpTB")->text(), QStringLiteral("fe80:****:0000:0000:0000:0000:0000:0001"));
    EXPECT_EQ(edit("srcIpTB")->text(), QStringLiteral("0000:0000:0000:0000:0000:0000:0000:0000"));
    EXPECT_EQ(edit("dstPortTB")->text(), QStringLiteral("65535"));
    EXPECT_EQ(combo("ipVersionCB")->currentIndex(), 1);
    EXPECT_TRUE(box("dstPortCB")->isChecked());
    EXPECT_TRUE(edit("srcIpTB")->isEnabled());

    ASSERT_EQ(panel_.fillFilter(&out_), 0);
    EXPECT_TRUE(sameRecord(out_, record));
}

TEST_F(SimpleFilterControlTest, TypedAddressesAndPortsFillTheRecord) {
    box("srcIpCB")->setChecked(true);
    box("dstIpCB")->setChecked(true);
    box("srcPortCB")->setChecked(true);
    box("dstPortCB")->setChecked(true);
    edit("srcIpTB")->setText(QStringLiteral("192.168.*.*"));
    edit("dstIpTB")->setText(QString());  // used but empty: matches any address
    edit("srcPortTB")->setText(QStringLiteral("08"));
    edit("dstPortTB")->setText(QStringLiteral("010"));
    ASSERT_EQ(panel_.fillFilter(&out_), 0);
    EXPECT_EQ(out_.fieldFlags, 0x78u);
    EXPECT_EQ(out_.srcIp[3], 192);
    EXPECT_EQ(out_.srcIp[2], 168);
    EXPECT_EQ(out_.srcIp[1] | out_.srcIp[0], 0);
    EXPECT_EQ(out_.srcPort, 8);  // decimal, leading zeros and all
    EXPECT_EQ(out_.dstPort, 10);
    // Source IP bytes at offsets 40 and 41 are care bits 30 and 31; both ports 44..47.
    EXPECT_EQ(out_.careMaskLow, 0u);
    EXPECT_EQ(out_.careMaskHigh, 0xC + 0xF0000u);

    combo("ipVersionCB")->setCurrentIndex(1);
    edit("srcIpTB")->setText(QStringLiteral("fe8*::1"));
    ASSERT_EQ(panel_.fillFilter(&out_), 0);
    EXPECT_EQ(out_.fieldFlags & NETTLEBEAM_FILTER_IPV6, 1u);
    EXPECT_EQ(out_.srcIp[15], 0xfe);
    EXPECT_EQ(out_.srcIp[14], 0x80);
    EXPECT_EQ(out_.srcIp[0], 0x01);
    // The half-wildcard byte 0x8* (record byte 52, care bit 42) is not compared.
    const uint32_t srcIpCare = out_.careMaskHigh & 0xFFFF;
    EXPECT_EQ(srcIpCare, 0xFFFFu & ~(1u << 14));
}

TEST_F(SimpleFilterControlTest, EitherDirectionUsesOnlyTheSourceRow) {
    box("srcIpCB")->setChecked(true);
    box("dstIpCB")->setChecked(true);
    edit("dstIpTB")->setText(QStringLiteral("not an address"));
    edit("srcIpTB")->setText(QStringLiteral("10.1.*.*"));
    combo("ipModeCB")->setCurrentIndex(1);
    EXPECT_TRUE(edit("dstIpTB")->isHidden());
    EXPECT_TRUE(child<QLabel>(panel_, "dstIPLabel")->isHidden());
    EXPECT_EQ(child<QLabel>(panel_, "srcIPLabel")->text(), QStringLiteral("IP"));
    EXPECT_EQ(child<QLabel>(panel_, "srcMACLabel")->text(), QStringLiteral("Source MAC"));

    ASSERT_EQ(panel_.fillFilter(&out_), 0);
    EXPECT_EQ(out_.eitherDirection, NETTLEBEAM_FILTER_EITHER_IP);
    EXPECT_EQ(out_.srcIp[3], 10);
    EXPECT_EQ(out_.dstIp[3], 0);
    EXPECT_EQ(out_.careMaskLow, 0u);  // no destination IP care bits

    combo("ipModeCB")->setCurrentIndex(0);
    EXPECT_FALSE(edit("dstIpTB")->isHidden());
    EXPECT_EQ(child<QLabel>(panel_, "srcIPLabel")->text(), QStringLiteral("Source IP"));
}

TEST_F(SimpleFilterControlTest, EveryInvalidFieldIsMarkedAtOnceAndClearedByTheNextFill) {
    for (const char* name : {"srcMacCB", "dstMacCB", "srcIpCB", "srcPortCB", "dstPortCB"})
        box(name)->setChecked(true);
    edit("srcMacTB")->setText(QStringLiteral("aa:bb:cc"));  // accepted while typing only
    edit("dstMacTB")->setText(QStringLiteral("aa:bb:cc:dd:ee:f*"));
    edit("srcIpTB")->setText(QStringLiteral("10.1"));
    edit("srcPortTB")->setText(QStringLiteral("65536"));
    edit("dstPortTB")->setText(QStringLiteral("http"));
    EXPECT_EQ(panel_.fillFilter(&out_), -1);
    for (const char* name : {"srcMacTB", "dstMacTB", "srcIpTB", "srcPortTB", "dstPortTB"})
        EXPECT_TRUE(red(name)) << name;

    edit("srcMacTB")->setText(QStringLiteral("aa:bb:cc:**:ee:FF"));
    edit("dstMacTB")->setText(QStringLiteral("00:11:22:33:44:55"));
    edit("srcIpTB")->setText(QStringLiteral("10.1.*.*"));
    edit("srcPortTB")->setText(QStringLiteral("65535"));
    edit("dstPortTB")->setText(QStringLiteral("0"));
    EXPECT_EQ(panel_.fillFilter(&out_), 0);
    for (const char* name : {"srcMacTB", "dstMacTB", "srcIpTB", "srcPortTB", "dstPortTB"})
        EXPECT_FALSE(red(name)) << name;
    EXPECT_EQ(out_.srcMac[5], 0xaa);
    EXPECT_EQ(out_.srcMac[0], 0xff);
    EXPECT_EQ(out_.srcMac[2], 0x00);
    EXPECT_EQ(out_.careMaskLow & 0xFC0, 0xFC0u & ~(1u << 8));  // srcMac, byte "**" not cared
    EXPECT_EQ(out_.srcPort, 65535);
}

// Every printable character in either digit of a group: only the sixteen
// digits in both cases make a byte.
TEST_F(SimpleFilterControlTest, MacGroupsTakeHexadecimalDigitsInEitherCase) {
    box("srcMacCB")->setChecked(true);
    for (char c = '!'; c <= '~'; ++c) {
        const bool digit = std::isxdigit(static_cast<unsigned char>(c)) != 0;
        for (const QString& text :
             {QStringLiteral("#a:00:00:00:00:00"), QStringLiteral("00:00:00:00:00:a#")}) {
            edit("srcMacTB")->setText(QString(text).replace(u'#', QLatin1Char(c)));
            EXPECT_EQ(panel_.fillFilter(&out_) == 0, digit)
                << edit("srcMacTB")->text().toStdString();
            if (digit) {
                EXPECT_EQ(out_.careMaskLow & 0xFC0, 0xFC0u) << c;
            }
        }
    }
    edit("srcMacTB")->setText(QStringLiteral("Fa:00:00:00:00:aF"));
    ASSERT_EQ(panel_.fillFilter(&out_), 0);
    EXPECT_EQ(out_.srcMac[5], 0xfa);
    EXPECT_EQ(out_.srcMac[0], 0xaf);
}

// The port text as Qt read it: a sign and white space around the number,
// Unicode spaces included, are taken; nothing else is.
TEST_F(SimpleFilterControlTest, PortsTakeASignAndSpacesAroundTheNumber) {
    box("srcPortCB")->setChecked(true);
    for (const QString& text : {QStringLiteral("+80"), QStringLiteral(" 80\t"),
                                QStringLiteral("\u00A080\u2003"), QStringLiteral("00080")}) {
        edit("srcPortTB")->setText(text);
        ASSERT_EQ(panel_.fillFilter(&out_), 0) << text.toStdString();
        EXPECT_EQ(out_.srcPort, 80) << text.toStdString();
    }
    for (const QString& text :
         {QStringLiteral("1,000"), QStringLiteral("-0"), QStringLiteral("8 0"),
          QStringLiteral("\uFF18\uFF10"), QStringLiteral("")}) {
        edit("srcPortTB")->setText(text);
        EXPECT_EQ(panel_.fillFilter(&out_), -1) << text.toStdString();
    }
}

TEST(PacketsTypeFilterTest, BoxesFollowTheRecordIndexAndOnlyTheUserEmits) {
    PacketsTypeFilter panel;
    QSignalSpy changed(&panel, &PacketsTypeFilter::changed);
    NettlebeamApiPacketsTypeFilter record{};
    record.flags[21] = 7;  // any non-zero byte selects
    record.flags[24] = 1;
    panel.setFilter(record);
    EXPECT_TRUE(child<QCheckBox>(panel, "isTCPFlags_ACK")->isChecked());
    EXPECT_TRUE(child<QCheckBox>(panel, "isL2Other")->isChecked());
    EXPECT_EQ(panel.findChildren<QCheckBox*>().size(), NETTLEBEAM_PACKET_TYPE_CLASSES);

    NettlebeamApiPacketsTypeFilter out{};
    panel.getFilter(&out);
    for (int i = 0; i < NETTLEBEAM_PACKET_TYPE_CLASSES; ++i)
        EXPECT_EQ(out.flags[i], i == 21 || i == 24 ? 1 : 0) << i;

    panel.setFilter(NettlebeamApiPacketsTypeFilter{});
    EXPECT_FALSE(child<QCheckBox>(panel, "isTCPFlags_ACK")->isChecked());
    EXPECT_EQ(changed.count(), 0);

    QTest::mouseClick(child<QCheckBox>(panel, "isHTTP"), Qt::LeftButton);
    EXPECT_EQ(changed.count(), 1);
    panel.getFilter(&out);
    EXPECT_EQ(out.flags[8], 1);
}

class FilterControlTest : public ::testing::Test {
  protected:
    QLineEdit* hex() { return child<QLineEdit>(editor_, "HexBox"); }
    QLineEdit* plain() { return child<QLineEdit>(editor_, "ClearBox"); }
    NettlebeamApiDpiFilter filled() {
        NettlebeamApiDpiFilter filter{};
        fillStatus_ = editor_.fillPattern(&filter);
        return filter;
    }
    bool hexMarked() { return hex()->styleSheet() == QStringLiteral("color: red"); }
    static QString wildcards(int bytes) {
        QStringList groups;
        for (int i = 0; i < bytes; ++i) groups << QStringLiteral("**");
        return groups.join(u' ');
    }

    FilterControl editor_;
    QSignalSpy changed_{&editor_, &FilterControl::signal_filterChanged};
    int fillStatus_ = 0;
};

TEST_F(FilterControlTest, HexDigitsFillBytesAndSkipSeparators) {
    EXPECT_EQ(hex()->text(), wildcards(16));
    EXPECT_EQ(plain()->text(), QString(16, u'*'));
    hex()->setCursorPosition(0);
    QTest::keyClick(hex(), '5');
    EXPECT_EQ(hex()->text(), QStringLiteral("5* ") + wildcards(15));
    EXPECT_EQ(plain()->text(), QStringLiteral(".") + QString(15, u'*'));
    QTest::keyClicks(hex(), QStringLiteral("aB"));  // 'B' lands in the next byte
    EXPECT_EQ(hex()->text(), QStringLiteral("5a b* ") + wildcards(14));
    EXPECT_EQ(hex()->cursorPosition(), 4);
    EXPECT_EQ(filled().pattern[0], 0x5a);
    EXPECT_EQ(changed_.count(), 3);

    QTest::keyClick(hex(), 'x');  // not a digit: swallowed, nothing changes
    EXPECT_EQ(hex()->text(), QStringLiteral("5a b* ") + wildcards(14));
    EXPECT_EQ(changed_.count(), 3);
}

TEST_F(FilterControlTest, PlainCharactersFillBytesAndShowInHex) {
    plain()->setCursorPosition(0);
    QTest::keyClicks(plain(), QStringLiteral("GET "));
    EXPECT_EQ(hex()->text(), QStringLiteral("47 45 54 20 ") + wildcards(12));
    EXPECT_EQ(plain()->text(), QStringLiteral("GET ") + QString(12, u'*'));
    const NettlebeamApiDpiFilter filter = filled();
    EXPECT_EQ(filter.mask, 0xFu);
    EXPECT_EQ(std::memcmp(filter.pattern, "GET ", 4), 0);
    EXPECT_EQ(changed_.count(), 4);

    // Backspace clears the byte before the cursor, Delete the one at it.
    QTest::keyClick(plain(), Qt::Key_Backspace);
    plain()->setCursorPosition(0);
    QTest::keyClick(plain(), Qt::Key_Delete);
    EXPECT_EQ(plain()->text(), QStringLiteral("*ET") + QString(13, u'*'));
    EXPECT_EQ(filled().mask, 0x6u);
    EXPECT_EQ(plain()->cursorPosition(), 1);
}

TEST_F(FilterControlTest, BackspaceAtTheStartChangesNothing) {
    NettlebeamApiDpiFilter filter{};
    filter.pattern[0] = 0x0a;
    filter.pattern[1] = 'A';
    filter.mask = 0x3;
    ASSERT_TRUE(editor_.setPattern(filter, 16));
    EXPECT_EQ(plain()->text(), QStringLiteral(".A") + QString(14, u'*'));
    EXPECT_EQ(hex()->text(), QStringLiteral("0a 41 ") + wildcards(14));
    for (QLineEdit* edit : {hex(), plain()}) {
        edit->setCursorPosition(0);
        QTest::keyClick(edit, Qt::Key_Backspace);
    }
    EXPECT_EQ(hex()->text(), QStringLiteral("0a 41 ") + wildcards(14));
    EXPECT_EQ(filled().mask, 0x3u);
    EXPECT_EQ(changed_.count(), 0);

    // A key only pressed never reaches the edit.
    QTest::keyPress(hex(), 'f');
    EXPECT_EQ(hex()->text(), QStringLiteral("0a 41 ") + wildcards(14));
}

TEST_F(FilterControlTest, DeleteAndBackspaceInHexStarWholeBytes) {
    NettlebeamApiDpiFilter filter{};
    std::memcpy(filter.pattern, "ABCD", 4);
    filter.mask = 0xF;
    editor_.setPattern(filter, 16);
    // Delete on the separator after byte 0 stars byte 1 and moves past it.
    hex()->setCursorPosition(2);
    QTest::keyClick(hex(), Qt::Key_Delete);
    EXPECT_EQ(hex()->text(), QStringLiteral("41 ** 43 44 ") + wildcards(12));
    EXPECT_EQ(filled().mask, 0xDu);
    EXPECT_EQ(hex()->cursorPosition(), 6);
    // Backspace inside byte 3 stars it; at the start of byte 3 it would star byte 2.
    hex()->setCursorPosition(10);
    QTest::keyClick(hex(), Qt::Key_Backspace);
    EXPECT_EQ(hex()->cursorPosition(), 9);
    QTest::keyClick(hex(), Qt::Key_Backspace);
    EXPECT_EQ(hex()->text(), QStringLiteral("41 ** ** ** ") + wildcards(12));
    EXPECT_EQ(filled().mask, 0x1u);
    EXPECT_EQ(plain()->text(), QStringLiteral("A") + QString(15, u'*'));
    EXPECT_EQ(changed_.count(), 3);
}

// A byte with one digit typed ("5*", "*5") matches no byte value: the
// pattern is refused and its view marked until the byte is whole or starred.
TEST_F(FilterControlTest, AHalfTypedByteIsRefusedAndMarked) {
    EXPECT_EQ(filled().mask, 0u);
    EXPECT_EQ(fillStatus_, 0);
    hex()->setCursorPosition(0);
    QTest::keyClick(hex(), '5');
    filled();
    EXPECT_EQ(fillStatus_, -1);
    EXPECT_TRUE(hexMarked());

    QTest::keyClick(hex(), 'a');
    EXPECT_EQ(filled().pattern[0], 0x5a);
    EXPECT_EQ(fillStatus_, 0);
    EXPECT_FALSE(hexMarked());

    hex()->setCursorPosition(4);  // the second digit of byte 1
    QTest::keyClick(hex(), '7');
    EXPECT_EQ(hex()->text(), QStringLiteral("5a *7 ") + wildcards(14));
    EXPECT_EQ(filled().mask, 0x3u);
    EXPECT_EQ(fillStatus_, -1);
    EXPECT_TRUE(hexMarked());

    QTest::keyClick(hex(), Qt::Key_Backspace);  // stars the whole byte
    EXPECT_EQ(filled().mask, 0x1u);
    EXPECT_EQ(fillStatus_, 0);
    EXPECT_FALSE(hexMarked());
}
