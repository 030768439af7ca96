#include "sfptexts.h"

#include <QStringList>
#include <array>
#include <cstddef>
#include <cstring>

namespace SfpTexts {

namespace {

// The text of `code` in a table indexed by code, or `other` beyond it.
template <std::size_t N>
QString lookUp(const std::array<const char*, N>& table, uint32_t code, const char* other) {
    return QString::fromLatin1(code < N ? table[code] : other);
}

// SFF-8024 tables end in reserved codes and, above 127, vendor codes.
template <std::size_t N>
QString lookUpWithVendorRange(const std::array<const char*, N>& table, uint32_t code) {
    if (code < N) return QString::fromLatin1(table[code]);
    const char* format = code > 127 ? "Vendor specific (0x%02x)" : "Reserved (0x%02x)";
    return QString::asprintf(format, code);
}

constexpr std::array<const char*, 7> kEncodings = {
    "Unspecified", "8B10B", "4B5B", "NRZ", "Manchester", "SONET Scrambled", "64B/66B"};

constexpr std::array<const char*, 11> kRateIdentifiers = {
    "Unspecified",        "SFF-8079",    "SFF-8431 (RX Only)",   "Unspecified",
    "SFF-8431 (TX Only)", "Unspecified", "SFF-8431 (TX and RX)", "Unspecified",
    "FC-PI-5 (RX Only)",  "Unspecified", "FC-PI-5 (TX and RX)"};

constexpr std::array<const char*, 15> kIdentifiers = {
    "Unknown", "GBIC",  "Soldered to MB", "SFP or SFP+", "300 pin XBI", "XENPAK", "XFP",
    "XFF",     "XFP-E", "XPAK",           "X2",          "DWDM-SFP",    "QSFP",   "QSFP+",
    "CXP"};

constexpr std::array<const char*, 16> kConnectors = {"Unknown",
                                                     "SC",
                                                     "FC style 1 copper connector",
                                                     "FC style 2 copper connector",
                                                     "BNC/TNC",
                                                     "FC coaxial headers",
                                                     "FiberJack",
                                                     "LC",
                                                     "MT-RJ",
                                                     "MU",
                                                     "SG",
                                                     "Optical pigtail",
                                                     "MPO Parallel Optic",
                                                     "HSSDC II",
                                                     "Copper pigtail",
                                                     "RJ45"};

constexpr std::array<const char*, 4> kMonitoringTypes = {
    "Int. calibrated/Av. power", "Int. calibrated/OMA", "Ext. calibrated/Av. power",
    "Ext. calibrated/OMA"};

constexpr std::array<const char*, 6> kComplianceLevels = {"Undefined",         "Rev 9.3 SFF-8472",
                                                          "Rev 9.5 SFF-8472",  "Rev 10.2 SFF-8472",
                                                          "Rev 10.4 SFF-8472", "Rev 11.0 SFF-8472"};

constexpr std::array<const char*, 7> kSonetReaches = {
    "SONET SR", "SONET SR-1", "SONET IR-1", "SONET IR-2", "SONET LR-1", "SONET LR-2", "SONET LR-3"};

struct Unit {
    int decimals;
    const char* suffix;
};
constexpr std::array<Unit, kQuantities> kUnits = {
    {{1, "°C"}, {2, "V"}, {3, "mA"}, {4, "mW"}, {4, "mW"}}};

constexpr std::array<const char*, kQuantities> kFlagNames = {"Temperature ", "VCC ", "TX Bias ",
                                                             "TX Power ", "RX Power "};

// The names of the quantities whose bit is set, from `firstBit` on.
QString flagLine(uint32_t flags, int firstBit) {
    QString line;
    for (int q = 0; q < kQuantities; ++q) {
        if (flags & (1u << (firstBit + q))) line += QString::fromLatin1(kFlagNames[q]);
    }
    return line.isEmpty() ? QStringLiteral("None ") : line;
}

struct OptionRow {
    const char* caption;
    const char* whenZero;
    const char* otherwise;
};
constexpr const char* kImplemented = "Implemented";
constexpr const char* kNotImplemented = "Not Implemented";
constexpr std::array<OptionRow, kOptionRows> kOptionRowTexts = {{
    {"Cooled Transceiver Declaration :", "Cooled laser transmitter",
     "Uncooled laser transmitter or unspecified"},
    {"Power Level Declaration :", "Power Level 2", "Power Level 1 or unspecified"},
    {"Linear Receiver Output Implementation :", "Linear receiver output",
     "Limiting receiver output"},
    {"RATE_SELECT Implementation :", kImplemented, kNotImplemented},
    {"TX_DISABLE Implementation :", kImplemented, kNotImplemented},
    {"TX_FAULT Implementation :", kImplemented, kNotImplemented},
    {"Loss of Signal Implementation :", kImplemented, kNotImplemented},
    {"Alarm/Warning flags :", kImplemented, kNotImplemented},
    {"Soft TX_DISABLE control and monitoring :", kImplemented, kNotImplemented},
    {"Soft TX_FAULT monitoring :", kImplemented, kNotImplemented},
    {"Soft RX_LOS monitoring", kImplemented, kNotImplemented},
    {"Soft RATE_SELECT control and monitoring :", kImplemented, kNotImplemented},
    {"Application Select control :", kImplemented, kNotImplemented},
    {"Soft Rate Select control :", kImplemented, kNotImplemented},
}};
constexpr int kLossOfSignalRow = 6;
constexpr int32_t kInvertedLossOfSignal = 2;

struct TransceiverGroup {
    const char* title;
    int size;
};
constexpr std::array<TransceiverGroup, kTransceiverGroups> kTransceiverGroupList = {{
    {"10G Ethernet Compliance", 4},
    {"Infiniband Compliance", 4},
    {"SONET Compliance", 11},
    {"Gigabit Ethernet Compliance", 8},
    {"ESCON Compliance", 2},
    {"Fibre Channel transmitter technology", 7},
    {"Fibre Channel link length", 5},
    {"SFP+ Cable Technology", 2},
    {"Fibre Channel Transmission Media", 7},
    {"Fibre Channel Speed", 6},
}};

// Group by group, each in the order of its flags in the module entry.
constexpr std::array<const char*, kTransceiverIndicators> kTransceiverCaptions = {
    // identification byte 3, bits 7 to 4
    "10G BASE-ER", "10G BASE-LRM", "10G BASE-LR", "10G BASE-SR",
    // byte 3, bits 3 to 0
    "1X SX", "1X LX", "1X Copper Active", "1X Copper Passive",
    // byte 4 bits 5, 2, 1, 0; byte 5 bits 6, 5, 4, 2, 1, 0; the reach specifier
    "OC-192 short reach", "OC 48 long reach", "OC 48 intermediate reach", "OC 48 short reach",
    "OC 12 single mode long reach", "OC 12 single mode intermediate reach", "OC 12 short reach",
    "OC 3 single mode long reach", "OC 3 single mode intermediate reach", "OC 3 short reach",
    "SONET Reach Specifier",
    // byte 6, bits 7 to 0
    "BASE-PX", "BASE-BX10", "100BASE-FX", "100BASE-LX/LX10", "1000BASE-T", "1000BASE-CX",
    "1000BASE-LX", "1000BASE-SX",
    // byte 4, bits 7 and 6
    "ESCON MMF 1310nm LED", "ESCON SMF 1310nm Laser",
    // byte 7 bits 2, 1, 0; byte 8 bits 7, 6, 5, 4
    "Shortwave Laser, linear RX (SA)", "Longwave Laser (LC)", "Electrical inter-enclosure (EL)",
    "Electrical intra-enclosure (EL)", "Shortwave Laser w/o OFC (SN)",
    "Shortwave Laser w/ OFC (SL)", "Longwave Laser (LL)",
    // byte 7, bits 7 to 3
    "very long distance (V)", "short distance (S)", "intermediate distance (I)",
    "long distance (L)", "medium distance (M)",
    // byte 8, bits 3 and 2
    "Active Cable", "Passive Cable",
    // byte 9, bits 7 to 2 and 0
    "Twin Axial Pair (TW)", "Shielded Twisted Pair (TP)", "Miniature Coax (MI)", "Video Coax (TV)",
    "Multi-mode 62.5µm (M6)", "Multi-mode 50µm (M5)", "Single Mode (SM)",
    // byte 10, bits 5, 7, 6, 4, 2, 0
    "1600 MBytes/Sec", "1200 MBytes/Sec", "800 MBytes/Sec", "400 MBytes/Sec", "200 MBytes/Sec",
    "100 MBytes/Sec"};

// The indicators and option rows are read as runs of 32-bit fields.
static_assert(offsetof(NettlebeamApiSfpModule, compliance3) + 4 * kSonetReachIndicator ==
              offsetof(NettlebeamApiSfpModule, sonetReach));
static_assert(offsetof(NettlebeamApiSfpModule, compliance3) + 4 * kTransceiverIndicators ==
              offsetof(NettlebeamApiSfpModule, temperature));
static_assert(offsetof(NettlebeamApiSfpModule, options64) + 4 * kOptionRows ==
              offsetof(NettlebeamApiSfpModule, compliance3));
constexpr int groupSizeSum() {
    int sum = 0;
    for (const TransceiverGroup& group : kTransceiverGroupList) sum += group.size;
    return sum;
}
static_assert(groupSizeSum() == kTransceiverIndicators);

// The 32-bit field `index` places after `first` in the module entry.
int32_t fieldAfter(const NettlebeamApiSfpModule& module, std::size_t first, int index) {
    int32_t value = 0;
    std::memcpy(&value, reinterpret_cast<const char*>(&module) + first + 4 * index, 4);
    return value;
}

uint32_t unsignedCode(int32_t code) {
    return code < 0 ? UINT32_MAX : static_cast<uint32_t>(code);
}

}  // namespace

QString encoding(uint32_t code) {
    return lookUp(kEncodings, code, "Reserved");
}

QString rateIdentifier(uint32_t code) {
    return lookUp(kRateIdentifiers, code, "Unallocated");
}

QString identifier(uint32_t code) {
    return lookUpWithVendorRange(kIdentifiers, code);
}

QString connector(uint32_t code) {
    return lookUpWithVendorRange(kConnectors, code);
}

QString monitoringType(int32_t code) {
    return lookUp(kMonitoringTypes, unsignedCode(code), "None");
}

QString compliance(uint32_t code) {
    return lookUp(kComplianceLevels, code, "Unknown");
}

QString sonetReach(int32_t code) {
    return lookUp(kSonetReaches, unsignedCode(code), "Unknown");
}

QString text(const char* field, std::size_t size) {
    const void* end = std::memchr(field, '\0', size);
    const std::size_t length = end ? static_cast<const char*>(end) - field : size;
    return QString::fromLatin1(field, static_cast<int>(length));
}

QString vendorOui(uint32_t oui) {
    return QString::asprintf("0x%06x", oui & 0xFFFFFFu);
}

QString extIdentifier(uint32_t value) {
    return QString::asprintf("0x%02x", value);
}

QString bitRate(uint32_t hundredsOfMbps) {
    if (hundredsOfMbps == 0) return QStringLiteral("Unspecified");
    return QStringLiteral("%1 Mbps").arg(static_cast<uint64_t>(hundredsOfMbps) * 100);
}

QString margin(uint32_t percent) {
    if (percent == 0) return QStringLiteral("Unspecified");
    return QStringLiteral("%1%").arg(percent);
}

QString wavelength(uint32_t nanometres) {
    return QStringLiteral("%1 nm").arg(nanometres);
}

QString singleModeLength(int32_t metres) {
    switch (metres) {
        case -2:
            return QStringLiteral(">254km");
        case -1:
            return QStringLiteral(">25.4km");
        case 0:
            return QStringLiteral("Unspecified");
        default:
            return QString::asprintf("%0.1fkm", metres / 1000.0);
    }
}

QString fibreLength(int32_t metres) {
    if (metres == -1) return QStringLiteral(">2.54km");
    if (metres == 0) return QStringLiteral("Unspecified");
    return QStringLiteral("%1m").arg(metres);
}

QString copperLength(int32_t metres) {
    if (metres == -1) return QStringLiteral(">254m");
    if (metres == 0) return QStringLiteral("Unspecified");
    return QStringLiteral("%1m").arg(metres);
}

QString measurement(Quantity quantity, float value) {
    const Unit& unit = kUnits[static_cast<int>(quantity)];
    return QStringLiteral("%1%2")
        .arg(static_cast<double>(value), 0, 'f', unit.decimals)
        .arg(QString::fromUtf8(unit.suffix));
}

float quantityOf(const NettlebeamApiSfpThresholds& values, Quantity quantity) {
    switch (quantity) {
        case Quantity::Temperature:
            return values.temperature;
        case Quantity::Vcc:
            return values.vcc;
        case Quantity::TxBias:
            return values.txBias;
        case Quantity::TxPower:
            return values.txPower;
        case Quantity::RxPower:
            return values.rxPower;
    }
    return 0;
}

QString warnings(uint32_t alarmFlags) {
    return flagLine(alarmFlags, 5);
}

QString alarms(uint32_t alarmFlags) {
    return flagLine(alarmFlags, 0);
}

QString statusBits(uint32_t alarmFlags) {
    QString line;
    if (alarmFlags & (1u << 10)) line += QStringLiteral("TX Disable ");
    if (alarmFlags & (1u << 11)) line += QStringLiteral("TX Fault ");
    if (alarmFlags & (1u << 12)) line += QStringLiteral("RX LOS ");
    return line;
}

QString declared(int32_t flag) {
    return flag == 0 ? QStringLiteral("Yes") : QStringLiteral("No");
}

QString optionCaption(int row) {
    if (row < 0 || row >= kOptionRows) return {};
    return QString::fromLatin1(kOptionRowTexts[row].caption);
}

QString optionValue(int row, int32_t field) {
    if (row < 0 || row >= kOptionRows) return {};
    const OptionRow& texts = kOptionRowTexts[row];
    if (field == 0) return QString::fromLatin1(texts.whenZero);
    if (row == kLossOfSignalRow && field == kInvertedLossOfSignal)
        return QStringLiteral("Implemented, Inverted");
    return QString::fromLatin1(texts.otherwise);
}

int32_t optionField(const NettlebeamApiSfpModule& module, int row) {
    if (row < 0 || row >= kOptionRows) return 0;
    return fieldAfter(module, offsetof(NettlebeamApiSfpModule, options64), row);
}

QString transceiverGroupTitle(int group) {
    if (group < 0 || group >= kTransceiverGroups) return {};
    return QString::fromLatin1(kTransceiverGroupList[group].title);
}

int transceiverGroupSize(int group) {
    if (group < 0 || group >= kTransceiverGroups) return 0;
    return kTransceiverGroupList[group].size;
}

QString transceiverCaption(int indicator) {
    if (indicator < 0 || indicator >= kTransceiverIndicators) return {};
    return QString::fromUtf8(kTransceiverCaptions[indicator]);
}

QString transceiverValue(const NettlebeamApiSfpModule& module, int indicator) {
    if (indicator < 0 || indicator >= kTransceiverIndicators) return {};
    const int32_t field =
        fieldAfter(module, offsetof(NettlebeamApiSfpModule, compliance3), indicator);
    return indicator == kSonetReachIndicator ? sonetReach(field) : declared(field);
}

}  // namespace SfpTexts
