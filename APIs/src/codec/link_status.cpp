#include "codec/link_status.h"

#include <array>
#include <cstdio>
#include <cstring>

#include "byte_order.h"

namespace nettlebeam::codec {
namespace {

constexpr int32_t kNoLink = NETTLEBEAM_LINK_SPEED_NO_LINK;
constexpr int32_t kNotAvailable = 2;

// Device speed codes: 0 is 1000 Mbit/s, 1 unknown, 2 is 100, 3 is 10.
int32_t speedFromCode(unsigned code) {
    static constexpr std::array<int32_t, 4> kSpeeds{
        NETTLEBEAM_LINK_SPEED_1000M, NETTLEBEAM_LINK_SPEED_UNKNOWN, NETTLEBEAM_LINK_SPEED_100M,
        NETTLEBEAM_LINK_SPEED_10M};
    return kSpeeds[code & 3];
}

// The fast-Ethernet device has no gigabit: its code 0 means unknown.
int32_t fastEthernetSpeedFromCode(unsigned code) {
    if ((code & 3) == 2) return NETTLEBEAM_LINK_SPEED_100M;
    if ((code & 3) == 3) return NETTLEBEAM_LINK_SPEED_10M;
    return NETTLEBEAM_LINK_SPEED_UNKNOWN;
}

void markPortsValid(NettlebeamApiLinkStatus& status, int32_t spanPort) {
    status.linkValid = 1;
    status.portCount = 2;
    for (auto& port : status.ports) port.spanPort = spanPort;
}

int32_t bitValue(uint32_t word, unsigned bit) {
    return wire::bitSet(word, bit) ? 1 : 0;
}

// 1 when the bit is clear: the module's option and compliance flags.
int32_t clearFlag(uint8_t byte, unsigned bit) {
    return wire::bitSet(byte, bit) ? 0 : 1;
}

void fillClearFlags(int32_t* out, uint8_t byte, std::initializer_list<unsigned> bits) {
    for (unsigned bit : bits) *out++ = clearFlag(byte, bit);
}

void fillPhy(NettlebeamApiPhyStatus& phy, int32_t speed, std::span<const uint8_t> words) {
    const uint16_t w0 = wire::readLe16(words, 0), w1 = wire::readLe16(words, 2),
                   w2 = wire::readLe16(words, 4), w3 = wire::readLe16(words, 6),
                   w4 = wire::readLe16(words, 8);
    auto& v = phy.values;
    v[0] = speed == NETTLEBEAM_LINK_SPEED_1000M ? (wire::bitSet(w2, 14) ? 0 : 1) : kNotAvailable;
    v[1] = bitValue(w1, 0);
    const bool partnerKnown = wire::bitSet(w1, 0);
    const std::array<std::pair<uint16_t, unsigned>, 11> partner{{{w1, 3},
                                                                 {w0, 15},
                                                                 {w0, 14},
                                                                 {w2, 11},
                                                                 {w2, 10},
                                                                 {w0, 8},
                                                                 {w0, 7},
                                                                 {w0, 6},
                                                                 {w0, 5},
                                                                 {w0, 11},
                                                                 {w0, 10}}};
    for (size_t i = 0; i < partner.size(); ++i) {
        v[2 + i] = partnerKnown ? bitValue(partner[i].first, partner[i].second) : kNotAvailable;
    }
    v[13] = bitValue(w1, 4);
    v[14] = bitValue(w0, 13);
    v[15] = speed == kNoLink ? kNotAvailable : bitValue(w2, 15);
    v[16] = bitValue(w2, 13);
    v[17] = bitValue(w2, 12);
    // The whole value is written so that no caller bytes survive in it.
    v[18] = w3 & 0xFF;
    const std::array<unsigned, 5> statusBits{14, 11, 10, 9, 8};
    for (size_t i = 0; i < statusBits.size(); ++i) {
        v[19 + i] = bitValue(w3, statusBits[i]);
        v[24 + i] = bitValue(w4, statusBits[i]);
    }
    v[29] = bitValue(w4, 7);
    v[30] = bitValue(w4, 5);
}

void copyText(char* out, std::span<const uint8_t> a0, size_t offset, size_t length) {
    std::memcpy(out, a0.data() + offset, length);
    out[length] = '\0';
}

int32_t diagnosticsType(uint8_t byte92) {
    if (!wire::bitSet(byte92, 6)) return 4;
    if (wire::bitSet(byte92, 5)) return wire::bitSet(byte92, 3) ? 0 : 1;
    if (wire::bitSet(byte92, 4)) return wire::bitSet(byte92, 3) ? 2 : 3;
    return 4;
}

int32_t lengthSmf(uint8_t kmByte, uint8_t hundredMetreByte) {
    if (hundredMetreByte != 255) return hundredMetreByte * 100;
    if (kmByte == 0) return -1;
    if (kmByte == 255) return -2;
    return kmByte * 1000;
}

int32_t scaledLength(uint8_t byte, int32_t metresPerUnit) {
    return byte == 255 ? -1 : byte * metresPerUnit;
}

int32_t losMode(uint8_t byte65) {
    if (wire::bitSet(byte65, 1)) return 0;
    if (wire::bitSet(byte65, 2)) return 2;
    return 1;
}

// The five diagnostic quantities as raw words, converted to engineering
// units, optionally calibrated with the module's external constants.
struct Quantities {
    std::array<double, 5> values{};
};

constexpr std::array<double, 5> kUnitDivisors{256.0, 10000.0, 500.0, 10000.0, 10000.0};

Quantities readQuantities(std::span<const uint8_t> a2, const std::array<size_t, 5>& offsets) {
    Quantities q;
    q.values[0] = static_cast<int16_t>(wire::readBe16(a2, offsets[0])) / kUnitDivisors[0];
    for (size_t i = 1; i < 5; ++i) q.values[i] = wire::readBe16(a2, offsets[i]) / kUnitDivisors[i];
    return q;
}

// Slope and offset calibration for temperature, vcc, bias and transmit
// power; the receive power is a polynomial of the raw count whose result is
// in the same 0.1 microwatt unit as the raw count.
Quantities calibrate(const Quantities& converted, std::span<const uint8_t> a2) {
    static constexpr std::array<size_t, 4> kSlope{84, 88, 76, 80};
    static constexpr std::array<size_t, 4> kOffset{86, 90, 78, 82};
    Quantities q;
    for (size_t i = 0; i < 4; ++i) {
        const double slope = wire::readBe16(a2, kSlope[i]) / 256.0;
        const double offset =
            static_cast<int16_t>(wire::readBe16(a2, kOffset[i])) / kUnitDivisors[i];
        q.values[i] = slope * converted.values[i] + offset;
    }
    const double raw = converted.values[4] * kUnitDivisors[4];
    double power = 0.0;
    for (size_t offset : {56u, 60u, 64u, 68u, 72u})
        power = power * raw + wire::readBeFloat(a2, offset);
    q.values[4] = power / kUnitDivisors[4];
    return q;
}

void storeQuantities(const Quantities& q, NettlebeamApiSfpThresholds& out) {
    out.temperature = static_cast<float>(q.values[0]);
    out.vcc = static_cast<float>(q.values[1]);
    out.txBias = static_cast<float>(q.values[2]);
    out.txPower = static_cast<float>(q.values[3]);
    out.rxPower = static_cast<float>(q.values[4]);
}

uint32_t alarmFlags(std::span<const uint8_t> a2) {
    const auto pairSet = [](uint8_t byte, unsigned highBit) {
        return (byte >> (highBit - 1) & 3) != 0;
    };
    uint32_t flags = 0;
    for (unsigned i = 0; i < 4; ++i) {
        if (pairSet(a2[112], 7 - 2 * i)) flags |= 1u << i;
        if (pairSet(a2[116], 7 - 2 * i)) flags |= 1u << (5 + i);
    }
    if (pairSet(a2[113], 7)) flags |= 1u << 4;
    if (pairSet(a2[117], 7)) flags |= 1u << 9;
    if (wire::bitSet(a2[110], 7)) flags |= 1u << 10;
    if (wire::bitSet(a2[110], 2)) flags |= 1u << 11;
    if (wire::bitSet(a2[110], 1)) flags |= 1u << 12;
    return flags;
}

void decodeDiagnostics(std::span<const uint8_t> a2, bool flagsImplemented,
                       NettlebeamApiSfpModule& m) {
    const bool external = m.diagnosticsType == 2 || m.diagnosticsType == 3;
    if (!external && m.diagnosticsType != 0 && m.diagnosticsType != 1) return;
    const auto measure = [&](const std::array<size_t, 5>& offsets) {
        const Quantities converted = readQuantities(a2, offsets);
        return external ? calibrate(converted, a2) : converted;
    };
    NettlebeamApiSfpThresholds current{};
    storeQuantities(measure({96, 98, 100, 102, 104}), current);
    m.temperature = current.temperature;
    m.vcc = current.vcc;
    m.txBias = current.txBias;
    m.txPower = current.txPower;
    m.rxPower = current.rxPower;
    if (!flagsImplemented) return;
    storeQuantities(measure({0, 8, 16, 24, 32}), m.highAlarm);
    storeQuantities(measure({2, 10, 18, 26, 34}), m.lowAlarm);
    storeQuantities(measure({4, 12, 20, 28, 36}), m.highWarning);
    storeQuantities(measure({6, 14, 22, 30, 38}), m.lowWarning);
    m.alarmFlags = alarmFlags(a2);
}

void decodeFlags(std::span<const uint8_t> a0, NettlebeamApiSfpModule& m) {
    fillClearFlags(m.options64, a0[64], {2, 1, 0});
    fillClearFlags(m.options65, a0[65], {5, 4, 3});
    fillClearFlags(m.enhancedOptions, a0[93], {7, 6, 5, 4, 3, 2, 1});
    fillClearFlags(m.compliance3, a0[3], {7, 6, 5, 4, 3, 2, 1, 0});
    fillClearFlags(m.compliance4Low, a0[4], {5, 2, 1, 0});
    fillClearFlags(m.compliance5, a0[5], {6, 5, 4, 2, 1, 0});
    fillClearFlags(m.compliance6, a0[6], {7, 6, 5, 4, 3, 2, 1, 0});
    fillClearFlags(m.compliance4High, a0[4], {7, 6});
    fillClearFlags(m.compliance7Low, a0[7], {2, 1, 0});
    fillClearFlags(m.compliance8High, a0[8], {7, 6, 5, 4});
    fillClearFlags(m.compliance7High, a0[7], {7, 6, 5, 4, 3});
    fillClearFlags(m.compliance8Low, a0[8], {3, 2});
    // Bit 1 of byte 9 is unallocated; single mode is bit 0.
    fillClearFlags(m.compliance9, a0[9], {7, 6, 5, 4, 3, 2, 0});
    fillClearFlags(m.compliance10, a0[10], {5, 7, 6, 4, 2, 0});
}

}  // namespace

void decodeGigabitPortSpeedByte(uint8_t byte, bool inlineMode, NettlebeamApiLinkStatus& status) {
    auto& a = status.ports[0];
    auto& b = status.ports[1];
    if (inlineMode) {
        markPortsValid(status, 0);
        if (!wire::bitSet(byte, 3) && !wire::bitSet(byte, 7)) {
            a.speed = b.speed = kNoLink;
            return;
        }
        a.speed = b.speed = speedFromCode(byte);
        a.halfDuplex = b.halfDuplex = wire::bitSet(byte, 2) ? 0 : 1;
        return;
    }
    markPortsValid(status, 1);
    a.speed = wire::bitSet(byte, 3) ? speedFromCode(byte) : kNoLink;
    a.halfDuplex = wire::bitSet(byte, 2) ? 0 : 1;
    b.speed = wire::bitSet(byte, 7) ? speedFromCode(byte >> 4) : kNoLink;
    b.halfDuplex = wire::bitSet(byte, 6) ? 0 : 1;
}

void decodeFastEthernetPortSpeedByte(uint8_t byte, NettlebeamApiLinkStatus& status) {
    markPortsValid(status, 0);
    for (auto& port : status.ports) {
        port.speed = wire::bitSet(byte, 3) ? fastEthernetSpeedFromCode(byte) : kNoLink;
        port.halfDuplex = wire::bitSet(byte, 2) ? 0 : 1;
    }
}

void decodeLinkStatusByte(uint8_t byte, NettlebeamApiLinkStatus& status) {
    markPortsValid(status, 0);
    for (auto& port : status.ports) {
        port.speed = wire::bitSet(byte, 2) ? speedFromCode(byte) : kNoLink;
        port.halfDuplex = wire::bitSet(byte, 3) ? 0 : 1;
    }
}

bool decodeLinkDetails(std::span<const uint8_t> reply, NettlebeamApiLinkStatus& status) {
    if (reply.size() < kLinkDetailsSize) return false;
    status.phyValid = 1;
    status.phyCount = 2;
    for (size_t port = 0; port < 2; ++port) {
        fillPhy(status.phy[port], status.ports[port].speed, reply.subspan(10 * port, 10));
    }
    return true;
}

bool decodeTransceiverData(std::span<const uint8_t> reply, NettlebeamApiLinkStatus& status) {
    if (reply.size() < kTransceiverDataSize) return false;
    status.sfpValid = 1;
    status.sfpCount = 2;
    status.sfp[0] =
        decodeSfpModule(reply[0], reply.subspan<1, kSfpA0Size>(), reply.subspan(259, 121));
    status.sfp[1] =
        decodeSfpModule(reply[129], reply.subspan<130, kSfpA0Size>(), reply.subspan(380, 120));
    return true;
}

NettlebeamApiSfpModule decodeSfpModule(uint8_t presence, std::span<const uint8_t, kSfpA0Size> a0,
                                       std::span<const uint8_t> a2) {
    NettlebeamApiSfpModule m{};
    m.present = presence != 0 ? 1 : 0;
    copyText(m.vendorName, a0, 20, 16);
    m.vendorOui = (static_cast<uint32_t>(a0[37]) << 16) | (a0[38] << 8) | a0[39];
    copyText(m.partNumber, a0, 40, 16);
    copyText(m.revision, a0, 56, 4);
    const std::array<char, 8> date{static_cast<char>(a0[86]), static_cast<char>(a0[87]),
                                   static_cast<char>(a0[88]), static_cast<char>(a0[89]),
                                   static_cast<char>(a0[84]), static_cast<char>(a0[85]),
                                   static_cast<char>(a0[90]), static_cast<char>(a0[91])};
    std::snprintf(m.dateCode, sizeof m.dateCode, "%c%c-%c%c-20%c%c %c%c", date[0], date[1], date[2],
                  date[3], date[4], date[5], date[6], date[7]);
    copyText(m.serialNumber, a0, 68, 16);
    m.bitRateNominal = a0[12];
    m.bitRateMax = a0[66];
    m.bitRateMin = a0[67];
    m.encoding = a0[11];
    m.rateIdentifier = a0[13];
    m.identifier = a0[0];
    m.extIdentifier = a0[1];
    m.connector = a0[2];
    m.wavelength = (static_cast<uint32_t>(a0[60]) << 8) | a0[61];
    m.diagnosticsType = diagnosticsType(a0[92]);
    m.complianceLevel = a0[94];
    m.lengthSmf = lengthSmf(a0[14], a0[15]);
    m.lengthOm2 = scaledLength(a0[16], 10);
    m.lengthOm1 = scaledLength(a0[17], 10);
    m.lengthCopper = scaledLength(a0[18], 1);
    m.lengthOm3 = scaledLength(a0[19], 10);
    m.losMode = losMode(a0[65]);
    m.sonetReach = sonetReach(a0[4], a0[5]);
    decodeFlags(a0, m);
    if (a2.size() >= kSfpA2MinSize) decodeDiagnostics(a2, wire::bitSet(a0[93], 7), m);
    return m;
}

int32_t sonetReach(uint8_t t, uint8_t u) {
    const bool bit4 = wire::bitSet(t, 4), bit3 = wire::bitSet(t, 3);
    if (wire::bitSet(t, 5) || wire::bitSet(t, 0) || wire::bitSet(u, 4) || wire::bitSet(u, 0)) {
        if (!bit4 && !bit3) return 0;
        return bit4 && !bit3 ? 1 : 7;
    }
    if (wire::bitSet(t, 1) || wire::bitSet(u, 5) || wire::bitSet(u, 1)) {
        if (bit4 && !bit3) return 2;
        return !bit4 && bit3 ? 3 : 7;
    }
    if (wire::bitSet(t, 2) || wire::bitSet(u, 6) || wire::bitSet(u, 2)) {
        if (bit4 && bit3) return 6;
        if (bit4) return 4;
        return bit3 ? 5 : 7;
    }
    return 7;
}

}  // namespace nettlebeam::codec
