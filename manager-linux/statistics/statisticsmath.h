// Arithmetic on the format-1 statistics records the worker reads every
// second: differences that never go negative, the share of the line a port
// carried, and rates over the time between two records.
#pragma once

#include <cstdint>
#include <optional>

#include "NettlebeamAPI.h"

namespace StatisticsMath {

constexpr int kPorts = 2;

// Field by field `now - base` for the timestamp, the header counters and both
// port blocks; a counter that went backwards (device restarted, counters
// cleared) gives 0, never a wrapped value. Version and trailer are `now`'s.
NettlebeamApiStatistics delta(const NettlebeamApiStatistics& now,
                              const NettlebeamApiStatistics& base);
NettlebeamApiPortStatistics delta(const NettlebeamApiPortStatistics& now,
                                  const NettlebeamApiPortStatistics& base);
// `now - base`, or 0 when the counter went backwards.
constexpr uint64_t difference(uint64_t now, uint64_t base) {
    return now >= base ? now - base : 0;
}

// No record taken yet (both timestamp words are 0).
bool isEmpty(const NettlebeamApiStatistics& record);

// Port 0 is port A, anything else port B.
const NettlebeamApiPortStatistics& port(const NettlebeamApiStatistics& record, int port);

// Valid and invalid packets together.
uint64_t packets(const NettlebeamApiPortStatistics& counters);

// Percent of the line a port carried over a difference of two records: the
// bytes plus 20 per frame (preamble and inter-frame gap) against the bytes
// the port could have carried; 0 without capacity, at most 100.
double bandwidthUsage(const NettlebeamApiPortStatistics& difference);

// Milliseconds as seconds, in floating point so that intervals under a
// second and fractions of a second count.
constexpr double seconds(uint64_t milliseconds) {
    return static_cast<double>(milliseconds) / 1000.0;
}

// `count` per second over `seconds`; none when no time passed (two records
// with the same timestamp), where a division would give inf or nan.
std::optional<double> perSecond(uint64_t count, double seconds);

}  // namespace StatisticsMath
