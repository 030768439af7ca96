#include "statisticsmath.h"

#include <algorithm>

namespace StatisticsMath {

NettlebeamApiPortStatistics delta(const NettlebeamApiPortStatistics& now,
                                  const NettlebeamApiPortStatistics& base) {
    NettlebeamApiPortStatistics d{};
    d.lessThan64 = difference(now.lessThan64, base.lessThan64);
    d.from64To1518 = difference(now.from64To1518, base.from64To1518);
    d.moreThan1518 = difference(now.moreThan1518, base.moreThan1518);
    d.collisions = difference(now.collisions, base.collisions);
    d.crcErrors = difference(now.crcErrors, base.crcErrors);
    d.jabbers = difference(now.jabbers, base.jabbers);
    d.totalBytes = difference(now.totalBytes, base.totalBytes);
    d.speedWeightedCount = difference(now.speedWeightedCount, base.speedWeightedCount);
    d.totalValidPackets = difference(now.totalValidPackets, base.totalValidPackets);
    d.totalInvalidPackets = difference(now.totalInvalidPackets, base.totalInvalidPackets);
    d.hwDropped = difference(now.hwDropped, base.hwDropped);
    return d;
}

NettlebeamApiStatistics delta(const NettlebeamApiStatistics& now,
                              const NettlebeamApiStatistics& base) {
    NettlebeamApiStatistics d = now;
    d.timestamp = difference(now.timestamp, base.timestamp);
    d.swDropped = difference(now.swDropped, base.swDropped);
    const NettlebeamApiStatisticsV1& n = now.data.v1;
    const NettlebeamApiStatisticsV1& b = base.data.v1;
    d.data.v1.linkUpTime = difference(n.linkUpTime, b.linkUpTime);
    d.data.v1.linkDownTime = difference(n.linkDownTime, b.linkDownTime);
    d.data.v1.portA = delta(n.portA, b.portA);
    d.data.v1.portB = delta(n.portB, b.portB);
    return d;
}

bool isEmpty(const NettlebeamApiStatistics& record) {
    return record.timestamp == 0;
}

const NettlebeamApiPortStatistics& port(const NettlebeamApiStatistics& record, int port) {
    return port == 0 ? record.data.v1.portA : record.data.v1.portB;
}

uint64_t packets(const NettlebeamApiPortStatistics& counters) {
    return counters.totalValidPackets + counters.totalInvalidPackets;
}

double bandwidthUsage(const NettlebeamApiPortStatistics& difference) {
    if (difference.speedWeightedCount == 0) return 0;
    // In floating point: 100 x the byte count overflows 64 bits long before
    // the counters do.
    const double carried = static_cast<double>(difference.totalBytes) +
                           20.0 * static_cast<double>(difference.totalValidPackets);
    return std::min(carried * 100.0 / static_cast<double>(difference.speedWeightedCount), 100.0);
}

std::optional<double> perSecond(uint64_t count, double seconds) {
    if (!(seconds > 0)) return std::nullopt;
    return static_cast<double>(count) / seconds;
}

}  // namespace StatisticsMath
