// The sixteen programmable counters of devices with the second statistics format.
#include <string>

#include "collectors.h"

namespace nettlebeam::exporter {

void collectProgrammableCounters(CollectContext& c) {
    const auto& statistics = c.sample.statistics;
    if (!statistics || statistics->version != 2) return;
    for (int index = 0; index < NETTLEBEAM_PROGRAMMABLE_COUNTERS; ++index) {
        Labels labels = c.deviceLabels();
        labels.emplace_back("counter", std::to_string(index));
        // Frames or bytes, as the counter was programmed.
        c.counter("nettlebeam_programmable_matches_total",
                  "Programmable counter, in the unit it was programmed with.", std::move(labels),
                  statistics->data.v2.counters[index]);
    }
}

}  // namespace nettlebeam::exporter
