#include "counter_tracker.h"

namespace nettlebeam::exporter {

bool CounterTracker::beginDevice(const std::string& device, std::optional<uint64_t> uptimeMs) {
    DeviceLife& life = devices_[device];
    life.restarted = uptimeMs && life.uptimeMs && *uptimeMs < *life.uptimeMs;
    if (uptimeMs) life.uptimeMs = uptimeMs;
    return life.restarted;
}

double CounterTracker::counter(const std::string& device, const std::string& series, uint64_t raw) {
    DeviceLife& life = devices_[device];
    auto [it, inserted] = life.last.try_emplace(series, raw);
    if (inserted) return static_cast<double>(raw);
    uint64_t previous = it->second;
    it->second = raw;
    // After a restart a counter that is not below its last value has counted
    // past it from zero: show the reset explicitly. A counter below its last
    // value shows the reset by itself.
    if (life.restarted && raw >= previous) {
        it->second = 0;
        return 0;
    }
    return static_cast<double>(raw);
}

void CounterTracker::keepOnly(const std::set<std::string>& present) {
    for (auto it = devices_.begin(); it != devices_.end();) {
        it = present.contains(it->first) ? std::next(it) : devices_.erase(it);
    }
}

}  // namespace nettlebeam::exporter
