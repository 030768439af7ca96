// Diagnostics of transceiver modules: values, the module's own thresholds
// and its alarm and warning flags.
#include <array>
#include <charconv>

#include "collectors.h"

namespace nettlebeam::exporter {
namespace {

struct Quantity {
    const char* name;    // label value and part of the metric name
    const char* metric;  // metric of the value
    const char* help;
    double divisor;  // from the library's unit to the base unit
    float NettlebeamApiSfpThresholds::*field;
    float NettlebeamApiSfpModule::*value;
};

// In the order of the alarm and warning bits.
const std::array<Quantity, 5> kQuantities{{
    {"temperature", "nettlebeam_transceiver_temperature_celsius", "Module temperature.", 1,
     &NettlebeamApiSfpThresholds::temperature, &NettlebeamApiSfpModule::temperature},
    {"supply_voltage", "nettlebeam_transceiver_supply_voltage_volts", "Module supply voltage.", 1,
     &NettlebeamApiSfpThresholds::vcc, &NettlebeamApiSfpModule::vcc},
    {"laser_bias", "nettlebeam_transceiver_laser_bias_amperes", "Laser bias current.", 1000,
     &NettlebeamApiSfpThresholds::txBias, &NettlebeamApiSfpModule::txBias},
    {"transmit_power", "nettlebeam_transceiver_transmit_power_watts", "Transmitted power.", 1000,
     &NettlebeamApiSfpThresholds::txPower, &NettlebeamApiSfpModule::txPower},
    {"receive_power", "nettlebeam_transceiver_receive_power_watts", "Received power.", 1000,
     &NettlebeamApiSfpThresholds::rxPower, &NettlebeamApiSfpModule::rxPower},
}};

constexpr int kDiagnosticsNone = 4;

// The module's values are single precision: widened through their shortest
// decimal text, 3.3005 stays 3.3005 rather than becoming 3.30049991607666.
double widen(float value) {
    char text[32];
    auto written = std::to_chars(text, text + sizeof text, value);
    double wide = value;
    std::from_chars(text, written.ptr, wide);
    return wide;
}
constexpr uint32_t kTxDisabledBit = 1u << 10;
constexpr uint32_t kTxFaultBit = 1u << 11;
constexpr uint32_t kRxLossBit = 1u << 12;

void collectModule(CollectContext& c, int port, const NettlebeamApiSfpModule& module) {
    Labels labels = c.portLabels(port);
    c.gauge("nettlebeam_transceiver_present", "1 when the cage holds a module.", labels, 1);
    c.gauge("nettlebeam_transceiver_tx_disabled", "1 while the transmitter is disabled.", labels,
            module.alarmFlags & kTxDisabledBit ? 1 : 0);
    c.gauge("nettlebeam_transceiver_tx_fault", "1 while the module reports a transmit fault.",
            labels, module.alarmFlags & kTxFaultBit ? 1 : 0);
    c.gauge("nettlebeam_transceiver_rx_loss_of_signal", "1 while the receiver has no signal.",
            labels, module.alarmFlags & kRxLossBit ? 1 : 0);
    for (size_t i = 0; i < kQuantities.size(); ++i) {
        const Quantity& q = kQuantities[i];
        c.gauge(q.metric, q.help, labels, widen(module.*q.value) / q.divisor);
        const std::array<std::pair<const char*, const NettlebeamApiSfpThresholds*>, 4> levels{{
            {"low_alarm", &module.lowAlarm},
            {"low_warning", &module.lowWarning},
            {"high_warning", &module.highWarning},
            {"high_alarm", &module.highAlarm},
        }};
        for (const auto& [level, thresholds] : levels) {
            Labels l = labels;
            l.emplace_back("level", level);
            c.gauge(std::string(q.metric).insert(std::string(q.metric).rfind('_'), "_threshold"),
                    std::string("The module's own threshold of ") + q.name + '.', std::move(l),
                    widen(thresholds->*q.field) / q.divisor);
        }
        Labels flagged = labels;
        flagged.emplace_back("quantity", q.name);
        c.gauge("nettlebeam_transceiver_alarm", "1 while a quantity is beyond its alarm threshold.",
                flagged, module.alarmFlags & (1u << i) ? 1 : 0);
        c.gauge("nettlebeam_transceiver_warning",
                "1 while a quantity is beyond its warning threshold.", flagged,
                module.alarmFlags & (1u << (i + 5)) ? 1 : 0);
    }
}

}  // namespace

void collectTransceivers(CollectContext& c) {
    const auto& link = c.sample.link;
    if (!link || !link->sfpValid) return;
    int cages = link->sfpCount < 0 ? 0 : link->sfpCount > 2 ? 2 : link->sfpCount;
    for (int cage = 0; cage < cages; ++cage) {
        const NettlebeamApiSfpModule& module = link->sfp[cage];
        if (!module.present || module.diagnosticsType == kDiagnosticsNone) continue;
        collectModule(c, cage, module);
    }
}

}  // namespace nettlebeam::exporter
