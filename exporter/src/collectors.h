// One collector per concern: each turns its part of a device reading into
// metric families. A part the device did not report is left out.
//
// Every sample carries `device` (the MAC address); port-level ones add
// `port` (A or B). Units are the base units: seconds, bytes, bits per second,
// volts, amperes, watts, degrees Celsius.
#pragma once

#include "counter_tracker.h"
#include "device_sample.h"
#include "family_set.h"

namespace nettlebeam::exporter {

struct CollectContext {
    const DeviceSample& sample;
    CounterTracker& tracker;
    FamilySet& out;

    Labels deviceLabels() const { return {{"device", sample.mac}}; }
    Labels portLabels(int port) const {
        return {{"device", sample.mac}, {"port", port == 0 ? "A" : "B"}};
    }
    void gauge(const std::string& name, const std::string& help, Labels labels, double value);
    // A counter through the tracker, so a device restart shows as a reset.
    void counter(const std::string& name, const std::string& help, Labels labels, uint64_t raw);
};

void collectDeviceInfo(CollectContext& context);
void collectPorts(CollectContext& context);
void collectProgrammableCounters(CollectContext& context);
void collectCapture(CollectContext& context);
void collectTiming(CollectContext& context);
void collectTransceivers(CollectContext& context);

// All of the above for one device, restart detection first.
FamilySet collectDevice(const DeviceSample& sample, CounterTracker& tracker);

}  // namespace nettlebeam::exporter
