#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <vector>

#include "codec/link_status.h"

namespace nettlebeam::codec {
namespace {

struct Transceiver {
    std::array<uint8_t, kTransceiverDataSize> bytes{};
    // Cage 0 is A, 1 is B.
    uint8_t& presence(int cage) { return bytes[cage == 0 ? 0 : 129]; }
    uint8_t& a0(int cage, size_t i) { return bytes[(cage == 0 ? 1 : 130) + i]; }
    uint8_t& a2(int cage, size_t i) { return bytes[(cage == 0 ? 259 : 380) + i]; }
    void a2Be16(int cage, size_t i, uint16_t v) {
        a2(cage, i) = static_cast<uint8_t>(v >> 8);
        a2(cage, i + 1) = static_cast<uint8_t>(v);
    }
    void a2BeFloat(int cage, size_t i, float f) {
        uint32_t raw;
        std::memcpy(&raw, &f, 4);
        a2Be16(cage, i, static_cast<uint16_t>(raw >> 16));
        a2Be16(cage, i + 2, static_cast<uint16_t>(raw));
    }
    NettlebeamApiSfpModule decode(int cage) {
        NettlebeamApiLinkStatus status{};
        EXPECT_TRUE(decodeTransceiverData(bytes, status));
        return status.sfp[cage];
    }
};

TEST(PortSpeedByte, GigabitSpanModeDecodesEachPort) {
    NettlebeamApiLinkStatus status{};
    decodeGigabitPortSpeedByte(0xCF, false, status);
    EXPECT_TRUE(status.linkValid);
    EXPECT_EQ(status.portCount, 2);
    EXPECT_EQ(status.ports[0].spanPort, 1);
    EXPECT_EQ(status.ports[0].speed, 0);
    EXPECT_EQ(status.ports[0].halfDuplex, 0);
    EXPECT_EQ(status.ports[1].speed, 2);
    EXPECT_EQ(status.ports[1].halfDuplex, 0);

    decodeGigabitPortSpeedByte(0x8B, false, status);
    EXPECT_EQ(status.ports[0].speed, 0);
    EXPECT_EQ(status.ports[0].halfDuplex, 1);
    EXPECT_EQ(status.ports[1].speed, 2);
    EXPECT_EQ(status.ports[1].halfDuplex, 1);

    const std::array<std::pair<uint8_t, int32_t>, 4> portB{
        {{0x80, 2}, {0xA0, 1}, {0xB0, 0}, {0x90, 4}}};
    for (auto [byte, speed] : portB) {
        decodeGigabitPortSpeedByte(byte, false, status);
        EXPECT_EQ(status.ports[1].speed, speed) << int(byte);
        EXPECT_EQ(status.ports[0].speed, 5) << int(byte);
    }
}

TEST(PortSpeedByte, GigabitInlineModeSharesOneLink) {
    NettlebeamApiLinkStatus status{};
    status.ports[0].halfDuplex = 7;
    decodeGigabitPortSpeedByte(0x00, true, status);
    EXPECT_EQ(status.ports[0].spanPort, 0);
    EXPECT_EQ(status.ports[0].speed, 5);
    EXPECT_EQ(status.ports[1].speed, 5);
    EXPECT_EQ(status.ports[0].halfDuplex, 7);  // no link: duplex not reported

    decodeGigabitPortSpeedByte(0x80 | 0x02, true, status);  // link seen on port B only
    EXPECT_EQ(status.ports[0].speed, 1);
    EXPECT_EQ(status.ports[1].speed, 1);
    EXPECT_EQ(status.ports[1].halfDuplex, 1);
}

TEST(PortSpeedByte, FastEthernetAndFirstGenerationCodes) {
    NettlebeamApiLinkStatus status{};
    decodeFastEthernetPortSpeedByte(0x0E, status);  // link, full duplex, 100
    EXPECT_EQ(status.ports[1].speed, 1);
    EXPECT_EQ(status.ports[1].halfDuplex, 0);
    decodeFastEthernetPortSpeedByte(0x08, status);  // code 0 is not a speed here
    EXPECT_EQ(status.ports[0].speed, 4);
    decodeFastEthernetPortSpeedByte(0x0B, status);
    EXPECT_EQ(status.ports[0].speed, 0);
    EXPECT_EQ(status.ports[0].halfDuplex, 1);
    decodeFastEthernetPortSpeedByte(0x07, status);
    EXPECT_EQ(status.ports[0].speed, 5);

    decodeLinkStatusByte(0x0C, status);  // link up, full duplex, 1000
    EXPECT_EQ(status.ports[0].spanPort, 0);
    EXPECT_EQ(status.ports[0].speed, 2);
    EXPECT_EQ(status.ports[1].halfDuplex, 0);
    decodeLinkStatusByte(0x05, status);
    EXPECT_EQ(status.ports[1].speed, 4);
    EXPECT_EQ(status.ports[1].halfDuplex, 1);
    decodeLinkStatusByte(0x0B, status);
    EXPECT_EQ(status.ports[1].speed, 5);
}

TEST(LinkDetails, PhyWordsDecodePerPort) {
    NettlebeamApiLinkStatus status{};
    status.ports[0].speed = 2;
    status.ports[1].speed = 5;
    std::array<uint8_t, 20> reply{};
    auto word = [&](int port, int index, uint16_t value) {
        reply[10 * port + 2 * index] = static_cast<uint8_t>(value);
        reply[10 * port + 2 * index + 1] = static_cast<uint8_t>(value >> 8);
    };
    word(0, 0, 0x8000 | 0x0020);         // w0 bits 15, 5
    word(0, 1, 0x0001 | 0x0008);         // partner present, w1 bit 3
    word(0, 2, 0x8000 | 0x1000);         // w2 bits 15, 12; bit 14 clear
    word(0, 3, 0x4000 | 0x0100 | 0x5A);  // w3 bits 14, 8 and low byte 0x5A
    word(0, 4, 0x0080 | 0x0020);         // w4 bits 7, 5
    word(1, 0, 0xFFFF);
    word(1, 2, 0xFFFF);
    status.phy[0].values[18] = -1;  // stale bytes must not survive
    ASSERT_TRUE(decodeLinkDetails(reply, status));
    EXPECT_TRUE(status.phyValid);
    EXPECT_EQ(status.phyCount, 2);
    const auto& a = status.phy[0].values;
    EXPECT_EQ(a[0], 1);
    EXPECT_EQ(a[1], 1);
    EXPECT_EQ(a[2], 1);
    EXPECT_EQ(a[3], 1);
    EXPECT_EQ(a[4], 0);
    EXPECT_EQ(a[10], 1);
    EXPECT_EQ(a[15], 1);
    EXPECT_EQ(a[16], 0);
    EXPECT_EQ(a[17], 1);
    EXPECT_EQ(a[18], 0x5A);
    EXPECT_EQ(a[19], 1);
    EXPECT_EQ(a[23], 1);
    EXPECT_EQ(a[24], 0);
    EXPECT_EQ(a[29], 1);
    EXPECT_EQ(a[30], 1);

    const auto& b = status.phy[1].values;
    EXPECT_EQ(b[0], 2);  // not at 1000 Mbit/s
    EXPECT_EQ(b[1], 0);
    for (int i = 2; i <= 12; ++i) EXPECT_EQ(b[i], 2) << i;
    EXPECT_EQ(b[14], 1);
    EXPECT_EQ(b[15], 2);  // no link
    EXPECT_EQ(b[16], 1);

    NettlebeamApiLinkStatus untouched{};
    EXPECT_FALSE(decodeLinkDetails(std::span(reply).first(19), untouched));
    EXPECT_FALSE(untouched.phyValid);
}

TEST(Transceiver, IdentityFieldsAndTexts) {
    Transceiver t;
    t.presence(1) = 1;
    const char vendor[] = "ACME OPTICS     ";
    std::memcpy(&t.a0(1, 20), vendor, 16);
    t.a0(1, 37) = 0x00;
    t.a0(1, 38) = 0x90;
    t.a0(1, 39) = 0x65;
    const char date[] = "190521AB";
    std::memcpy(&t.a0(1, 84), date, 8);
    t.a0(1, 60) = 0x05;
    t.a0(1, 61) = 0x1E;
    t.a0(1, 0) = 3;
    t.a0(1, 12) = 103;
    const auto m = t.decode(1);
    EXPECT_EQ(m.present, 1);
    EXPECT_STREQ(m.vendorName, vendor);
    EXPECT_EQ(m.vendorOui, 0x009065u);
    EXPECT_STREQ(m.dateCode, "05-21-2019 AB");
    EXPECT_EQ(m.wavelength, 1310u);
    EXPECT_EQ(m.identifier, 3u);
    EXPECT_EQ(m.bitRateNominal, 103u);
    EXPECT_EQ(t.decode(0).present, 0);
}

TEST(Transceiver, TextsStayTerminatedWithoutZerosInThePage) {
    Transceiver t;
    for (size_t i = 0; i < 128; ++i) t.a0(0, i) = 'x';
    const auto m = t.decode(0);
    EXPECT_EQ(std::strlen(m.vendorName), 16u);
    EXPECT_EQ(std::strlen(m.partNumber), 16u);
    EXPECT_EQ(std::strlen(m.revision), 4u);
    EXPECT_EQ(std::strlen(m.serialNumber), 16u);
    EXPECT_EQ(std::strlen(m.dateCode), 13u);
}

TEST(Transceiver, LengthsAndMarkers) {
    Transceiver t;
    t.a0(0, 15) = 255;
    t.a0(0, 14) = 0;
    EXPECT_EQ(t.decode(0).lengthSmf, -1);
    t.a0(0, 14) = 255;
    EXPECT_EQ(t.decode(0).lengthSmf, -2);
    t.a0(0, 14) = 40;
    EXPECT_EQ(t.decode(0).lengthSmf, 40000);
    t.a0(0, 15) = 20;
    EXPECT_EQ(t.decode(0).lengthSmf, 2000);
    t.a0(0, 16) = 255;
    t.a0(0, 17) = 30;
    t.a0(0, 18) = 255;
    t.a0(0, 19) = 7;
    const auto m = t.decode(0);
    EXPECT_EQ(m.lengthOm2, -1);
    EXPECT_EQ(m.lengthOm1, 300);
    EXPECT_EQ(m.lengthCopper, -1);
    EXPECT_EQ(m.lengthOm3, 70);
}

TEST(Transceiver, DiagnosticsTypeAndLossOfSignalMode) {
    Transceiver t;
    const std::array<std::pair<uint8_t, int32_t>, 6> types{
        {{0x68, 0}, {0x60, 1}, {0x58, 2}, {0x50, 3}, {0x20, 4}, {0x40, 4}}};
    for (auto [byte, type] : types) {
        t.a0(0, 92) = byte;
        EXPECT_EQ(t.decode(0).diagnosticsType, type) << int(byte);
    }
    t.a0(0, 65) = 0x06;
    EXPECT_EQ(t.decode(0).losMode, 0);
    t.a0(0, 65) = 0x04;
    EXPECT_EQ(t.decode(0).losMode, 2);
    t.a0(0, 65) = 0x00;
    EXPECT_EQ(t.decode(0).losMode, 1);
}

TEST(Transceiver, FlagsAreOneWhenTheirBitIsClear) {
    Transceiver t;
    t.a0(0, 3) = 0x80;   // 10GBASE-ER bit
    t.a0(0, 10) = 0x20;  // first flag of byte 10 is bit 5
    t.a0(0, 93) = 0x02;  // last enhanced option is bit 1
    t.a0(0, 9) = 0x02;   // bit 1 of byte 9 is unallocated: no flag
    const auto m = t.decode(0);
    EXPECT_EQ(m.compliance3[0], 0);
    EXPECT_EQ(m.compliance3[1], 1);
    EXPECT_EQ(m.compliance10[0], 0);
    EXPECT_EQ(m.compliance10[1], 1);
    EXPECT_EQ(m.enhancedOptions[6], 0);
    EXPECT_EQ(m.enhancedOptions[0], 1);
    for (int32_t f : m.compliance9) EXPECT_EQ(f, 1);
}

TEST(Transceiver, MediaByteFlagsFollowTheirBits) {
    // Byte 9: TW, TP, MI, TV, M6, M5 on bits 7 to 2, single mode on bit 0.
    constexpr std::array<uint8_t, 7> kBits{0x80, 0x40, 0x20, 0x10, 0x08, 0x04, 0x01};
    for (size_t flag = 0; flag < kBits.size(); ++flag) {
        Transceiver t;
        t.a0(0, 9) = kBits[flag];
        const auto m = t.decode(0);
        for (size_t i = 0; i < kBits.size(); ++i)
            EXPECT_EQ(m.compliance9[i], i == flag ? 0 : 1) << "byte 9 = " << int(kBits[flag]);
    }
}

TEST(Transceiver, SonetReachClasses) {
    EXPECT_EQ(sonetReach(0x01, 0x00), 0);
    EXPECT_EQ(sonetReach(0x11, 0x00), 1);
    EXPECT_EQ(sonetReach(0x09, 0x00), 7);
    EXPECT_EQ(sonetReach(0x00, 0x20 | 0x10), 0);  // OC-12 short outranks the intermediate class
    EXPECT_EQ(sonetReach(0x12, 0x00), 2);
    EXPECT_EQ(sonetReach(0x00 | 0x08, 0x02), 3);
    EXPECT_EQ(sonetReach(0x02, 0x00), 7);
    EXPECT_EQ(sonetReach(0x14, 0x00), 4);
    EXPECT_EQ(sonetReach(0x0C, 0x00), 5);
    EXPECT_EQ(sonetReach(0x1C, 0x00), 6);
    EXPECT_EQ(sonetReach(0x00, 0x40), 7);
    EXPECT_EQ(sonetReach(0x00, 0x00), 7);
}

TEST(Transceiver, InternalCalibrationConvertsUnits) {
    Transceiver t;
    t.a0(0, 92) = 0x68;
    t.a0(0, 93) = 0x80;       // alarm and warning flags implemented
    t.a2Be16(0, 96, 0xE780);  // -24.5 degrees
    t.a2Be16(0, 98, 33000);   // 3.3 V
    t.a2Be16(0, 100, 3000);   // 6 mA
    t.a2Be16(0, 102, 5000);   // 0.5 mW
    t.a2Be16(0, 104, 1234);   // 0.1234 mW
    t.a2Be16(0, 0, 0x5000);   // temperature high alarm 80
    t.a2Be16(0, 2, 0xF600);   // low alarm -10
    t.a2Be16(0, 38, 100);     // rx power low warning
    t.a2(0, 112) = 0x40;      // temperature low alarm
    t.a2(0, 113) = 0x80;      // rx power high alarm
    t.a2(0, 116) = 0x01;      // tx power low warning
    t.a2(0, 117) = 0x40;      // rx power low warning
    t.a2(0, 110) = 0x86;      // tx disable, tx fault, rx loss
    const auto m = t.decode(0);
    EXPECT_FLOAT_EQ(m.temperature, -24.5f);
    EXPECT_FLOAT_EQ(m.vcc, 3.3f);
    EXPECT_FLOAT_EQ(m.txBias, 6.0f);
    EXPECT_FLOAT_EQ(m.txPower, 0.5f);
    EXPECT_FLOAT_EQ(m.rxPower, 0.1234f);
    EXPECT_FLOAT_EQ(m.highAlarm.temperature, 80.0f);
    EXPECT_FLOAT_EQ(m.lowAlarm.temperature, -10.0f);
    EXPECT_FLOAT_EQ(m.lowWarning.rxPower, 0.01f);
    EXPECT_EQ(m.alarmFlags,
              (1u << 0) | (1u << 4) | (1u << 8) | (1u << 9) | (1u << 10) | (1u << 11) | (1u << 12));
}

TEST(Transceiver, WithoutAlarmSupportThresholdsStayZero) {
    Transceiver t;
    t.a0(0, 92) = 0x68;
    t.a2Be16(0, 98, 33000);
    t.a2Be16(0, 0, 0x5000);
    t.a2(0, 112) = 0xFF;
    const auto m = t.decode(0);
    EXPECT_FLOAT_EQ(m.vcc, 3.3f);
    EXPECT_EQ(m.highAlarm.temperature, 0.0f);
    EXPECT_EQ(m.alarmFlags, 0u);

    t.a0(0, 92) = 0x20;  // no diagnostics at all
    t.a0(0, 93) = 0x80;
    const auto none = t.decode(0);
    EXPECT_EQ(none.vcc, 0.0f);
    EXPECT_EQ(none.alarmFlags, 0u);
}

TEST(Transceiver, ExternalCalibrationAppliesSlopesOffsetsAndPolynomial) {
    Transceiver t;
    const int cage = 1;  // cage B's shorter page still holds every constant
    t.a0(cage, 92) = 0x58;
    t.a0(cage, 93) = 0x80;
    t.a2Be16(cage, 96, 25 * 256);  // raw 25 degrees
    t.a2Be16(cage, 84, 2 * 256);   // T slope 2
    t.a2Be16(cage, 86, 0xFF00);    // T offset -1 degree
    t.a2Be16(cage, 98, 30000);     // raw 3.0 V
    t.a2Be16(cage, 88, 256);       // V slope 1
    t.a2Be16(cage, 90, 1000);      // V offset 0.1 V
    t.a2Be16(cage, 100, 1000);     // raw 2 mA
    t.a2Be16(cage, 76, 128);       // slope 0.5
    t.a2Be16(cage, 102, 2000);     // raw 0.2 mW
    t.a2Be16(cage, 80, 512);       // slope 2
    t.a2Be16(cage, 82, 0);
    t.a2Be16(cage, 104, 1000);      // raw count 1000
    t.a2BeFloat(cage, 68, 2.0f);    // c1
    t.a2BeFloat(cage, 72, 500.0f);  // c0, in 0.1 microwatt
    t.a2BeFloat(cage, 64, 0.001f);  // c2
    t.a2Be16(cage, 0, 50 * 256);    // high alarm, raw 50 degrees
    const auto m = t.decode(cage);
    EXPECT_FLOAT_EQ(m.temperature, 49.0f);
    EXPECT_FLOAT_EQ(m.vcc, 3.1f);
    EXPECT_FLOAT_EQ(m.txBias, 1.0f);
    EXPECT_FLOAT_EQ(m.txPower, 0.4f);
    // (0.001 * 1000^2 + 2 * 1000 + 500) tenths of a microwatt
    EXPECT_NEAR(m.rxPower, 0.35, 1e-5);
    EXPECT_FLOAT_EQ(m.highAlarm.temperature, 99.0f);
}

TEST(Transceiver, ShortReplyIsRejected) {
    std::vector<uint8_t> reply(kTransceiverDataSize - 1, 0xFF);
    NettlebeamApiLinkStatus status{};
    EXPECT_FALSE(decodeTransceiverData(reply, status));
    EXPECT_FALSE(status.sfpValid);
}

}  // namespace
}  // namespace nettlebeam::codec
