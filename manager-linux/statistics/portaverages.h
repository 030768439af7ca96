// One port's averages since its first sample after a reset: the bandwidth
// usage weighted by the time each record covers, and the share of CRC
// errors among all packets.
#pragma once

#include <cstdint>
#include <optional>

#include "NettlebeamAPI.h"

class PortAverages {
  public:
    struct Values {
        // Percent; none until a record later than the first sample came in.
        std::optional<double> bandwidth;
        // Percent of packets since the first sample.
        double crcErrors = 0;
    };

    // `timestamp` is the current record's, `previousTimestamp` the record's
    // before it (0 when there was none) and `usageNow` the bandwidth usage
    // over that interval.
    Values update(const NettlebeamApiPortStatistics& counters, uint64_t timestamp,
                  uint64_t previousTimestamp, double usageNow);
    // The next record becomes the first sample.
    void reset() { firstSample_ = true; }
    bool isFirstSample() const { return firstSample_; }

  private:
    bool firstSample_ = true;
    uint64_t startTime_ = 0;
    double bandwidth_ = 0;
    uint64_t crcBase_ = 0;
    uint64_t packetsBase_ = 0;
};
