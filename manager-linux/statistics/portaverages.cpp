#include "portaverages.h"

#include <algorithm>

#include "statisticsmath.h"

PortAverages::Values PortAverages::update(const NettlebeamApiPortStatistics& counters,
                                          uint64_t timestamp, uint64_t previousTimestamp,
                                          double usageNow) {
    if (firstSample_) {
        startTime_ = timestamp;
        bandwidth_ = 0;
        crcBase_ = counters.crcErrors;
        packetsBase_ = StatisticsMath::packets(counters);
        firstSample_ = false;
    }
    Values values;
    if (timestamp > startTime_) {
        // The previous record's time splits the span into what the average
        // already covers and what `usageNow` covers.
        const uint64_t last = std::clamp(previousTimestamp, startTime_, timestamp);
        const auto covered = static_cast<double>(last - startTime_);
        const auto added = static_cast<double>(timestamp - last);
        bandwidth_ = (covered * bandwidth_ + added * usageNow) / (covered + added);
        values.bandwidth = bandwidth_;
    }
    const uint64_t crc = StatisticsMath::difference(counters.crcErrors, crcBase_);
    const uint64_t packets =
        StatisticsMath::difference(StatisticsMath::packets(counters), packetsBase_);
    values.crcErrors = static_cast<double>(crc) * 100.0 / (static_cast<double>(packets) + 1.0);
    return values;
}
