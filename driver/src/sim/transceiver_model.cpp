#include "transceiver_model.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <numbers>
#include <string_view>

#include "byte_order.h"

namespace nettlebeam::driver::sim {

namespace {

// A2 offsets.
constexpr size_t kThresholds = 0;
constexpr size_t kRxPowerCoefficients = 56;
constexpr size_t kTxBiasSlope = 76;
constexpr size_t kTxPowerSlope = 80;
constexpr size_t kTemperatureSlope = 84;
constexpr size_t kVccSlope = 88;
constexpr size_t kA2Checksum = 95;
constexpr size_t kMeasurements = 96;
constexpr size_t kStatusControl = 110;
constexpr size_t kAlarmFlags = 112;
constexpr size_t kWarningFlags = 116;

// How a module turns its ADC counts into physical values: value = slope *
// converted + offset, the receive power through a polynomial. Internally
// calibrated modules report converted values directly.
struct Calibration {
    double temperatureSlope = 1, temperatureOffset = 0;
    double vccSlope = 1, vccOffset = 0;
    double biasSlope = 1, biasOffset = 0;
    double txSlope = 1, txOffset = 0;
    double rxLinear = 1;  // the polynomial's first-order coefficient; the others are 0
};

const Calibration kExternal{1.0, -2.0, 1.0, 0.01, 2.0, 0.0, 1.25, 0.0, 1.1};

double sine(double elapsed, double period, double phase = 0) {
    return std::sin(2 * std::numbers::pi * elapsed / period + phase);
}

uint16_t clampU16(double v) {
    return static_cast<uint16_t>(std::clamp(std::lround(v), 0L, 65535L));
}
uint16_t clampS16(double v) {
    return static_cast<uint16_t>(static_cast<int16_t>(std::clamp(std::lround(v), -32768L, 32767L)));
}

// The five raw words for a set of physical values, inverse of the calibration.
std::array<uint16_t, 5> rawWords(const Diagnostics& d, const Calibration& c) {
    return {clampS16((d.temperature - c.temperatureOffset) / c.temperatureSlope * 256),
            clampU16((d.vcc - c.vccOffset) / c.vccSlope * 10000),
            clampU16((d.txBias - c.biasOffset) / c.biasSlope * 500),
            clampU16((d.txPower - c.txOffset) / c.txSlope * 10000),
            clampU16(d.rxPower / c.rxLinear * 10000)};
}

void putText(std::span<uint8_t> out, size_t at, size_t width, std::string_view text) {
    for (size_t i = 0; i < width; ++i) out[at + i] = i < text.size() ? text[i] : ' ';
}

uint8_t checksum(std::span<const uint8_t> bytes, size_t from, size_t to) {
    unsigned sum = 0;
    for (size_t i = from; i <= to; ++i) sum += bytes[i];
    return static_cast<uint8_t>(sum);
}

void putSlope(std::span<uint8_t> a2, size_t at, double slope, double offset, double offsetUnit) {
    wire::writeBe16(a2, at, static_cast<uint16_t>(std::lround(slope * 256)));
    wire::writeBe16(a2, at + 2, clampS16(offset * offsetUnit));
}

// Bits 7/6, 5/4, 3/2, 1/0: high/low of temperature, Vcc, bias, TX power.
uint8_t levelFlags(const Diagnostics& d, const Diagnostics& high, const Diagnostics& low) {
    auto pair = [](double v, double hi, double lo, int shift) {
        return static_cast<uint8_t>(((v > hi ? 2 : 0) | (v < lo ? 1 : 0)) << shift);
    };
    return static_cast<uint8_t>(pair(d.temperature, high.temperature, low.temperature, 6) |
                                pair(d.vcc, high.vcc, low.vcc, 4) |
                                pair(d.txBias, high.txBias, low.txBias, 2) |
                                pair(d.txPower, high.txPower, low.txPower, 0));
}

uint8_t rxFlags(const Diagnostics& d, const Diagnostics& high, const Diagnostics& low) {
    return static_cast<uint8_t>((d.rxPower > high.rxPower ? 0x80 : 0) |
                                (d.rxPower < low.rxPower ? 0x40 : 0));
}

}  // namespace

TransceiverModule::TransceiverModule(TransceiverKind kind, int cage) : kind_(kind), cage_(cage) {
    if (!present()) return;
    buildSerialId();
    buildThresholds();
}

void TransceiverModule::buildSerialId() {
    bool sr = kind_ == TransceiverKind::ShortReach;
    auto& a0 = a0_;
    a0[0] = 0x03;              // SFP or SFP+
    a0[1] = 0x04;              // serial ID defined by two-wire interface
    a0[2] = 0x07;              // LC connector
    a0[3] = sr ? 0x10 : 0x20;  // 10GBASE-SR or 10GBASE-LR
    a0[11] = 0x06;             // 64B/66B
    a0[12] = 0x67;             // 10.3 GBd
    a0[14] = sr ? 0 : 10;      // single mode, km
    a0[15] = sr ? 0 : 100;     // single mode, 100 m
    a0[16] = sr ? 8 : 0;       // OM2, 10 m
    a0[17] = sr ? 3 : 0;       // OM1, 10 m
    a0[19] = sr ? 30 : 0;      // OM3, 10 m
    putText(a0_, 20, 16, sr ? "PHOTONFIELD" : "LUMENWAY");
    a0[37] = 0x02;
    a0[38] = 0x4E;
    a0[39] = sr ? 0x10 : 0x20;
    putText(a0_, 40, 16, sr ? "PF-10G-SR85" : "LW-10G-LR13-EC");
    putText(a0_, 56, 4, sr ? "A" : "B2");
    wire::writeBe16(a0_, 60, sr ? 850 : 1310);
    a0[63] = checksum(a0_, 0, 62);
    a0[65] = 0x1A;  // loss of signal, TX_FAULT and TX_DISABLE implemented
    putText(
        a0_, 68, 16,
        sr ? "PF2619A00" + std::to_string(123 + cage_) : "LW2544C0" + std::to_string(77 + cage_));
    putText(a0_, 84, 8, sr ? "260315A1" : "251102B7");  // YYMMDD and lot
    a0[92] = sr ? 0x68 : 0x58;  // diagnostics, internal or external calibration, average power
    a0[93] = 0xF0;              // alarm/warning flags and soft control bits implemented
    a0[94] = 0x06;              // SFF-8472 revision 11.3
    a0[95] = checksum(a0_, 64, 94);
}

void TransceiverModule::buildThresholds() {
    bool sr = kind_ == TransceiverKind::ShortReach;
    highAlarm_ = {75, 3.63, sr ? 12.0 : 90.0, sr ? 1.122 : 1.585, sr ? 1.259 : 0.891};
    highWarning_ = {70, 3.465, sr ? 10.0 : 80.0, sr ? 0.891 : 1.259, sr ? 1.0 : 0.794};
    lowWarning_ = {0, 3.135, sr ? 3.0 : 20.0, sr ? 0.158 : 0.224, sr ? 0.0617 : 0.0617};
    lowAlarm_ = {-5, 2.97, sr ? 2.0 : 10.0, sr ? 0.126 : 0.178, sr ? 0.0372 : 0.0372};
    const Calibration& cal = sr ? Calibration{} : kExternal;
    // Each quantity's high alarm, low alarm, high warning, low warning.
    const Diagnostics* order[4] = {&highAlarm_, &lowAlarm_, &highWarning_, &lowWarning_};
    for (size_t level = 0; level < 4; ++level) {
        auto raw = rawWords(*order[level], cal);
        for (size_t q = 0; q < 5; ++q)
            wire::writeBe16(a2Static_, kThresholds + 8 * q + 2 * level, raw[q]);
    }
    if (!sr) {
        wire::writeBeFloat(a2Static_, kRxPowerCoefficients + 12, static_cast<float>(cal.rxLinear));
        putSlope(a2Static_, kTxBiasSlope, cal.biasSlope, cal.biasOffset, 500);
        putSlope(a2Static_, kTxPowerSlope, cal.txSlope, cal.txOffset, 10000);
        putSlope(a2Static_, kTemperatureSlope, cal.temperatureSlope, cal.temperatureOffset, 256);
        putSlope(a2Static_, kVccSlope, cal.vccSlope, cal.vccOffset, 10000);
    }
    a2Static_[kA2Checksum] = checksum(a2Static_, 0, 94);
}

Diagnostics TransceiverModule::diagnosticsAt(double t) const {
    Diagnostics d;
    double phase = cage_ * 1.3;
    d.temperature = 38 + 4 * sine(t, 900, phase) + 0.3 * sine(t, 37);
    d.vcc = 3.30 + 0.015 * sine(t, 420, phase);
    if (kind_ == TransceiverKind::ShortReach) {
        d.txBias = 6.8 + 0.4 * sine(t, 900, phase);
        d.txPower = 0.56 + 0.03 * sine(t, 300, phase);
        d.rxPower = 0.45 + 0.05 * sine(t, 240, phase);
    } else {
        d.txBias = 42 + 3 * sine(t, 900, phase);
        d.txPower = 0.63 + 0.04 * sine(t, 300, phase);
        // A marginal fibre: the received power dips under its low warning
        // threshold for about a minute in every ten.
        d.rxPower = 0.11 + 0.06 * sine(t, 600, phase);
    }
    return d;
}

std::array<uint8_t, 128> TransceiverModule::diagnosticsPage(double elapsed) const {
    std::array<uint8_t, 128> a2 = a2Static_;
    if (!present()) return a2;
    Diagnostics d = diagnosticsAt(elapsed);
    const Calibration& cal = kind_ == TransceiverKind::ShortReach ? Calibration{} : kExternal;
    auto raw = rawWords(d, cal);
    for (size_t q = 0; q < 5; ++q) wire::writeBe16(a2, kMeasurements + 2 * q, raw[q]);
    a2[kStatusControl] = 0;  // transmitter on, no fault, signal present, data ready
    a2[kAlarmFlags] = levelFlags(d, highAlarm_, lowAlarm_);
    a2[kAlarmFlags + 1] = rxFlags(d, highAlarm_, lowAlarm_);
    a2[kWarningFlags] = levelFlags(d, highWarning_, lowWarning_);
    a2[kWarningFlags + 1] = rxFlags(d, highWarning_, lowWarning_);
    return a2;
}

TransceiverModel::TransceiverModel(TransceiverKind cageA, TransceiverKind cageB)
    : modules_{TransceiverModule(cageA, 0), TransceiverModule(cageB, 1)} {}

std::vector<uint8_t> TransceiverModel::transceiverData(TimePoint now) const {
    const double elapsed = std::max(0.0, secondsBetween(poweredOn_, now));
    std::array<std::optional<ModulePages>, 2> cages;
    for (size_t c = 0; c < 2; ++c) {
        if (!modules_[c].present()) continue;
        cages[c] = ModulePages{modules_[c].serialIdPage(), modules_[c].diagnosticsPage(elapsed)};
    }
    return reply(cages);
}

std::vector<uint8_t> TransceiverModel::reply(
    const std::array<std::optional<ModulePages>, 2>& cages) {
    // Presence and A0 of cage A at 0 and cage B at 129; A2 of cage A at 259
    // (121 bytes) and of cage B at 380 (120 bytes).
    std::vector<uint8_t> out(kReplySize, 0);
    constexpr size_t kSerialAt[2] = {0, 129};
    constexpr size_t kDiagAt[2] = {259, 380};
    constexpr size_t kDiagLength[2] = {121, 120};
    for (size_t c = 0; c < 2; ++c) {
        if (!cages[c]) continue;
        out[kSerialAt[c]] = 1;
        std::memcpy(&out[kSerialAt[c] + 1], cages[c]->serialId.data(), 128);
        if (cages[c]->diagnostics)
            std::memcpy(&out[kDiagAt[c]], cages[c]->diagnostics->data(), kDiagLength[c]);
    }
    return out;
}

}  // namespace nettlebeam::driver::sim
