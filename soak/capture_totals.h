// The capture conservation rule, read from nettlebeamd's log: the driver
// logs where every frame of a capture went when the capture ends,
//   device 7: capture ended: port A received 10, written 8, dropped 1,
//   filtered 1; port B received ...
// and each port must account for every frame it received.
#pragma once

#include <cstdint>
#include <string>

#include "soak_checks.h"

namespace nettlebeam::soak {

struct CaptureTotalsSummary {
    uint64_t captures = 0;  // "capture ended" lines read
    uint64_t frames = 0;    // frames received over all of them
};

// Checks every "capture ended" line of the log at `path`; a line whose
// numbers do not add up, or that cannot be read, is a failure.
CaptureTotalsSummary checkCaptureTotals(const std::string& path, Checks& checks);

}  // namespace nettlebeam::soak
