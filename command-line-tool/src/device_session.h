// Library start, the wait for a device and the choice of the device a
// command applies to.
#pragma once

#include <NettlebeamAPI.h>
#include <argtable2.h>

#include <cstdio>
#include <memory>
#include <optional>

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

// After the wait, the handle of entry `index` of the list (counting from 0),
// or of the first entry when `index` is absent; nothing when there is no such
// entry (negative numbers included).
std::optional<NettlebeamApiDeviceHandle> deviceAt(std::optional<int> index);

// Uninitialises the library when the command ends.
class LibrarySession {
  public:
    LibrarySession() = default;
    ~LibrarySession() { NettlebeamAPIUninitialize(); }
    LibrarySession(const LibrarySession&) = delete;
    LibrarySession& operator=(const LibrarySession&) = delete;
};

// The start of every device command: initialise, wait, select, and announce
// the device. Prints the failure and returns nothing when either step fails.
// On success the caller owns the initialised library (see LibrarySession).
std::optional<NettlebeamApiDeviceHandle> startDeviceCommand(std::FILE* out,
                                                            const arg_int* deviceOption);

}  // namespace beamctl
