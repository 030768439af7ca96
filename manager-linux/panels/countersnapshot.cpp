#include "countersnapshot.h"

#include <cstring>

namespace {

uint64_t saturatingMinus(uint64_t newer, uint64_t older) {
    return newer > older ? newer - older : 0;
}

bool isCounter(int n) {
    return n >= 0 && n < NETTLEBEAM_PROGRAMMABLE_COUNTERS;
}

}  // namespace

CounterSnapshot CounterSnapshot::of(const NettlebeamApiStatistics& statistics) {
    CounterSnapshot snapshot;
    snapshot.timestamp = statistics.timestamp;
    snapshot.swDropped = statistics.swDropped;
    for (int n = 0; n < NETTLEBEAM_PROGRAMMABLE_COUNTERS; ++n)
        snapshot.counters[n] = statistics.data.v2.counters[n];
    static_assert(sizeof statistics.data.v2.trailer == sizeof snapshot.trailer);
    std::memcpy(snapshot.trailer.data(), statistics.data.v2.trailer, sizeof snapshot.trailer);
    return snapshot;
}

CounterSnapshot CounterSnapshot::difference(const CounterSnapshot& newer,
                                            const CounterSnapshot& older) {
    CounterSnapshot result;
    result.timestamp = saturatingMinus(newer.timestamp, older.timestamp);
    result.swDropped = saturatingMinus(newer.swDropped, older.swDropped);
    for (std::size_t n = 0; n < result.counters.size(); ++n)
        result.counters[n] = saturatingMinus(newer.counters[n], older.counters[n]);
    for (std::size_t i = 0; i < result.trailer.size(); ++i)
        result.trailer[i] = saturatingMinus(newer.trailer[i], older.trailer[i]);
    return result;
}

std::optional<double> CounterSnapshot::ratePerSecond(int n) const {
    if (timestamp == 0 || !isCounter(n)) return std::nullopt;
    return static_cast<double>(counters[n]) / (static_cast<double>(timestamp) / 1000.0);
}

uint64_t CounterSnapshot::counter(int n) const {
    return isCounter(n) ? counters[n] : 0;
}
