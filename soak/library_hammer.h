// One process's library callers: threads that call every export on devices
// that come and go, with per-device callbacks registered on each device.
//
// Rules checked:
//  - once this process's library announced a device gone (and it has not
//    come back), every export on its handle returns -4 (the packet-type
//    filter's get and set: -5, they check the capability first);
//  - a per-device callback registration ends with its device: after the
//    device-gone callback, removing it no longer succeeds, and it never fires.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>

#include "soak_checks.h"

namespace nettlebeam::soak {

struct HammerSettings {
    int threads = 3;
    double seconds = 60;
    std::string captureFolder;  // where direct captures may write
    unsigned seed = 1;
};

struct HammerCounts {
    std::atomic<uint64_t> calls{0};
    std::atomic<uint64_t> removedChecks{0};
    std::atomic<uint64_t> arrivals{0};
    std::atomic<uint64_t> departures{0};
    std::atomic<uint64_t> captureStarts{0};
};

// Initialises the library, hammers it until the time is up, uninitialises.
void hammerLibrary(const HammerSettings& settings, Checks& checks, HammerCounts& counts,
                   Heartbeat& heartbeat);

// Initialises and uninitialises the library over and over, listing devices
// and reading one value in between, until the time is up. Returns the cycles.
uint64_t cycleLibrary(double seconds, Checks& checks, Heartbeat& heartbeat);

}  // namespace nettlebeam::soak
