// How the transceiver display words what the library decoded from a module's
// identification and diagnostics pages: the code tables of SFF-8024 and
// SFF-8472, the length markers, the units of the diagnostics and the flag
// lines. Plain functions of the values, so every table is checked directly.
#pragma once

#include <QString>
#include <cstddef>
#include <cstdint>

#include "NettlebeamAPI.h"

namespace SfpTexts {

// Code tables.
QString encoding(uint32_t code);
QString rateIdentifier(uint32_t code);
QString identifier(uint32_t code);
QString connector(uint32_t code);
QString monitoringType(int32_t code);
QString compliance(uint32_t code);
QString sonetReach(int32_t code);

// Module memory text: up to the first NUL, never beyond `size` bytes.
QString text(const char* field, std::size_t size);
QString vendorOui(uint32_t oui);
QString extIdentifier(uint32_t value);
// Nominal bit rate in units of 100 Mbit/s.
QString bitRate(uint32_t hundredsOfMbps);
// Upper or lower bit-rate margin in percent.
QString margin(uint32_t percent);
QString wavelength(uint32_t nanometres);

// Lengths in metres with the library's markers for "beyond the range".
QString singleModeLength(int32_t metres);
QString fibreLength(int32_t metres);
QString copperLength(int32_t metres);

// The five diagnostic quantities in table order.
enum class Quantity { Temperature, Vcc, TxBias, TxPower, RxPower };
constexpr int kQuantities = 5;
QString measurement(Quantity quantity, float value);
// The quantity's value in a set of five (measurements or one threshold level).
float quantityOf(const NettlebeamApiSfpThresholds& values, Quantity quantity);

// Flag lines from the module's alarm word.
QString warnings(uint32_t alarmFlags);
QString alarms(uint32_t alarmFlags);
QString statusBits(uint32_t alarmFlags);

// "Yes" when the module declares the feature (the library stores 0), else "No".
QString declared(int32_t flag);

// The option and enhanced-option declarations: fourteen 32-bit fields of
// the module entry from `options64` on, the first seven options, the next
// seven enhanced options.
constexpr int kOptionRows = 14;
constexpr int kOptionsPerGroup = 7;
QString optionCaption(int row);
QString optionValue(int row, int32_t field);
int32_t optionField(const NettlebeamApiSfpModule& module, int row);

// The transceiver compliance indicators: 56 32-bit fields from `compliance3`
// on, in groups whose rows follow the order in which the library stores the
// flags (the bit order of the identification bytes). Indicator 18 is the
// SONET reach specifier.
constexpr int kTransceiverIndicators = 56;
constexpr int kTransceiverGroups = 10;
constexpr int kSonetReachIndicator = 18;
QString transceiverGroupTitle(int group);
int transceiverGroupSize(int group);
// The caption of indicator `indicator` (0..55).
QString transceiverCaption(int indicator);
QString transceiverValue(const NettlebeamApiSfpModule& module, int indicator);

}  // namespace SfpTexts
