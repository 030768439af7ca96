// The conductor's side of the soak: devices attached and detached at random,
// failures injected into random requests, beamctl runs, and the daemon's
// resident memory.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <string>

#include "nettlebeam_testsupport.h"
#include "soak_checks.h"

namespace nettlebeam::soak {

struct ChaosCounts {
    std::atomic<uint64_t> attaches{0};
    std::atomic<uint64_t> detaches{0};
    std::atomic<uint64_t> faults{0};
    std::atomic<uint64_t> beamctlRuns{0};
};

// Until `end`: keeps between two and six devices attached, changing one
// every few hundred milliseconds, and arms one failing request at a time.
void churnDevices(const testsupport::Daemon& daemon, std::chrono::steady_clock::time_point end,
                  unsigned seed, Checks& checks, ChaosCounts& counts, Heartbeat& heartbeat);

// Until `end`: runs beamctl commands against the daemon, one after another.
void runBeamctl(const std::string& beamctl, const testsupport::Daemon& daemon,
                std::chrono::steady_clock::time_point end, Checks& checks, ChaosCounts& counts,
                Heartbeat& heartbeat);

// Resident anonymous memory (heap and stacks: RssAnon) of the nettlebeamd
// serving `controlPath`, in kB; 0 when it cannot be found. Capture caches
// are shared memory and left out: how many captures happen to be running
// when a sample is taken says nothing about leaks.
uint64_t daemonResidentKb(const std::string& controlPath);

}  // namespace nettlebeam::soak
