// Keeps the counters of each device monotonic within one device's life.
//
// A device's hardware counters start again from zero when it powers up (a
// restart, a firmware change, unplugging). Prometheus takes any fall of a
// counter as a reset and counts the new value as the increase, which is
// right. What it cannot see is a restart between two scrapes after which a
// counter has already climbed past the value of the previous scrape: it would
// take the difference for the increase and lose everything counted before
// the restart. The device's time since power-on tells a restart apart; such a
// counter is then reported as 0 once, so the series visibly restarts from 0.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <set>
#include <string>

namespace nettlebeam::exporter {

class CounterTracker {
  public:
    // Starts a reading of `device`; `uptimeMs` is its time since power-on
    // when it reports one. Returns true when the device restarted since the
    // previous reading.
    bool beginDevice(const std::string& device, std::optional<uint64_t> uptimeMs);
    // The value to export for one series (`series` names it within the
    // device, labels included) whose device counter reads `raw`.
    double counter(const std::string& device, const std::string& series, uint64_t raw);
    // Forgets the devices not in `present`: one that comes back is a new life.
    void keepOnly(const std::set<std::string>& present);

  private:
    struct DeviceLife {
        std::optional<uint64_t> uptimeMs;
        bool restarted = false;  // in the current reading
        std::map<std::string, uint64_t> last;
    };
    std::map<std::string, DeviceLife> devices_;
};

}  // namespace nettlebeam::exporter
