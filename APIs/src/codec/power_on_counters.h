// The sixteen programmable counter definitions a ten-gigabit device starts
// with. The device keeps no definition across a restart, so these are also
// what a restart brings back; the simulated device starts from them and the
// tool's `counters reset` writes them.
#pragma once

#include <array>

#include "NettlebeamAPI.h"

namespace nettlebeam::codec {

using CounterDefinitions = std::array<NettlebeamApiCounterV2, NETTLEBEAM_PROGRAMMABLE_COUNTERS>;

// Frames and bytes per port, the main protocols and address classes, CRC
// errors, and drops per port and in all; each record's index is its place.
const CounterDefinitions& powerOnCounters();

}  // namespace nettlebeam::codec
