// The programmable counters' values as one status answer carries them, and
// the arithmetic a counter row does with two of them. Counter values only
// grow while a definition stays; one that restarted (a device restart, a new
// definition) must read as no progress rather than as a wrapped, huge number,
// so every difference saturates at zero.
#pragma once

#include <array>
#include <cstdint>
#include <optional>

#include "NettlebeamAPI.h"

struct CounterSnapshot {
    uint64_t timestamp = 0;  // host milliseconds
    uint64_t swDropped = 0;
    std::array<uint64_t, NETTLEBEAM_PROGRAMMABLE_COUNTERS> counters{};
    std::array<uint64_t, 2> trailer{};

    // The format-2 part of a statistics record, from its time stamp on.
    static CounterSnapshot of(const NettlebeamApiStatistics& statistics);
    // Field by field `newer` minus `older`, 0 where `newer` is the smaller.
    static CounterSnapshot difference(const CounterSnapshot& newer, const CounterSnapshot& older);
    // Counter `n` per second over a difference; nothing when no time passed
    // (or `n` is not a counter number).
    std::optional<double> ratePerSecond(int n) const;
    // Counter `n`, 0 when `n` is not a counter number.
    uint64_t counter(int n) const;
};
