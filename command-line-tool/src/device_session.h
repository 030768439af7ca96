// Library start, the wait for a device and the choice of the device a
// command applies to.
#pragma once

#include <NettlebeamAPI.h>
#include <argtable2.h>

#include <cstdio>
#include <memory>
#include <optional>

#include "command_line.h"

namespace beamctl {

struct DeviceListRelease {
    void operator()(NettlebeamApiDevicesList* list) const { NettlebeamApiDeviceListFree(list); }
};
// A snapshot of the library's device list, released when it goes.
using DeviceList = std::unique_ptr<NettlebeamApiDevicesList, DeviceListRelease>;
inline DeviceList readDeviceList() {
    return DeviceList(NettlebeamAPIGetDevicesList());
}

// The device handle held in the low 32 bits of a list entry.
inline NettlebeamApiDeviceHandle handleOf(const NettlebeamApiDevicesListEntry& entry) {
    return static_cast<NettlebeamApiDeviceHandle>(static_cast<std::uint32_t>(entry.handle));
}

// Initialises the library; prints the failure and returns false when it cannot.
bool initializeLibrary(std::FILE* out);

// Polls the device list every 100 ms, up to 50 times, until a device is listed.
void waitForDevice();

// After a wait that found no device: when no daemon answers on the control
// path, says so on `err` (naming the path and how to start one) and returns
// true. A daemon without devices is left to the caller.
bool reportMissingDaemon(std::FILE* err);

// Uninitialises the library when the command ends.
class LibrarySession {
  public:
    LibrarySession() = default;
    ~LibrarySession() { NettlebeamAPIUninitialize(); }
    LibrarySession(const LibrarySession&) = delete;
    LibrarySession& operator=(const LibrarySession&) = delete;
};

// The start of every device command: initialise, wait, select (by position
// or MAC, see device_choice.h), and announce the device. Prints the failure
// (and its reason on the error stream) and returns nothing when a step fails.
// On success the caller owns the initialised library (see LibrarySession).
// `announce` false leaves out "Nettlebeam detected", which would break a
// JSON stream.
std::optional<NettlebeamApiDeviceHandle> startDeviceCommand(const CommandLine& line,
                                                            const arg_rex* deviceOption,
                                                            bool announce = true);

// The reason a request on `handle` failed with `status`: the device left
// (it is no longer listed) or it refused, with the status and its meaning.
void explainFailure(std::FILE* err, NettlebeamApiDeviceHandle handle, std::int32_t status);

}  // namespace beamctl
