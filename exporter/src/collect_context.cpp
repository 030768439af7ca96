#include <cstring>

#include "collectors.h"

namespace nettlebeam::exporter {

void CollectContext::gauge(const std::string& name, const std::string& help, Labels labels,
                           double value) {
    out.family(name, help, MetricType::Gauge).add(std::move(labels), value);
}

void CollectContext::counter(const std::string& name, const std::string& help, Labels labels,
                             uint64_t raw) {
    std::string series = name;
    for (const auto& [label, value] : labels) series += '\0' + label + '=' + value;
    double value = tracker.counter(sample.mac, series, raw);
    out.family(name, help, MetricType::Counter).add(std::move(labels), value);
}

namespace {

// The device's milliseconds since power-on: the first word of the
// statistics trailer.
std::optional<uint64_t> uptimeMs(const DeviceSample& sample) {
    if (!sample.statistics) return std::nullopt;
    const uint8_t* trailer = sample.statistics->version == 2 ? sample.statistics->data.v2.trailer
                                                             : sample.statistics->data.v1.trailer;
    uint64_t value = 0;
    for (int i = 7; i >= 0; --i) value = (value << 8) | trailer[i];
    return value;
}

}  // namespace

FamilySet collectDevice(const DeviceSample& sample, CounterTracker& tracker) {
    FamilySet out;
    tracker.beginDevice(sample.mac, uptimeMs(sample));
    CollectContext context{sample, tracker, out};
    collectDeviceInfo(context);
    collectPorts(context);
    collectProgrammableCounters(context);
    collectCapture(context);
    collectTiming(context);
    collectTransceivers(context);
    return out;
}

}  // namespace nettlebeam::exporter
