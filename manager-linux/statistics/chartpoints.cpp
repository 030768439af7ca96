#include "chartpoints.h"

#include "statisticsmath.h"

namespace {

using Counter = uint64_t NettlebeamApiPortStatistics::*;

// Series 0..8; series 8 is the byte count (per second) or the bandwidth usage.
constexpr std::array<Counter, ChartPoints::kSeries> kSeriesCounters{
    &NettlebeamApiPortStatistics::lessThan64,
    &NettlebeamApiPortStatistics::from64To1518,
    &NettlebeamApiPortStatistics::moreThan1518,
    &NettlebeamApiPortStatistics::collisions,
    &NettlebeamApiPortStatistics::crcErrors,
    &NettlebeamApiPortStatistics::jabbers,
    &NettlebeamApiPortStatistics::totalValidPackets,
    &NettlebeamApiPortStatistics::totalInvalidPackets,
    &NettlebeamApiPortStatistics::totalBytes};
constexpr int kBandwidthSeries = 8;

}  // namespace

std::vector<ChartPoints::Point> ChartPoints::update(const NettlebeamApiStatistics& current,
                                                    const std::array<double, 2>& usageNow) {
    std::vector<Point> points;
    if (restart_) {
        restart_ = false;
        countdown_ = kFactors;
        scaleRecord_.fill(current);
        return points;
    }
    for (int scale = 0; scale < kScales; ++scale) {
        if (--countdown_[scale] >= 1) continue;
        const NettlebeamApiStatistics difference =
            StatisticsMath::delta(current, scaleRecord_[scale]);
        const double seconds = StatisticsMath::seconds(difference.timestamp);
        scaleRecord_[scale] = current;
        countdown_[scale] = kFactors[scale];
        if (!(seconds > 0)) continue;
        Point point;
        point.scale = scale;
        for (int port = 0; port < StatisticsMath::kPorts; ++port) {
            const NettlebeamApiPortStatistics& counters = StatisticsMath::port(difference, port);
            const uint64_t packets = StatisticsMath::packets(counters);
            const double total = packets == 0 ? 1.0 : static_cast<double>(packets);
            for (int series = 0; series < kSeries; ++series) {
                const auto count = static_cast<double>(counters.*kSeriesCounters[series]);
                point.values[port][0][series] = count / seconds;
                point.values[port][1][series] =
                    series == kBandwidthSeries ? usageNow[port] : count * 100.0 / total;
            }
        }
        points.push_back(point);
    }
    return points;
}
