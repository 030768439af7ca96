// The library's process-wide state: the library lock, the device list, the
// monitor thread and its start and stop.
#pragma once

#include <array>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

#include "monitor_control.h"

namespace nettlebeam::api {

// Any callback, stored untyped; `withPayload` says which form to call it in.
using AnyCallback = void (*)();

struct Registration {
    AnyCallback callback = nullptr;
    void* userData = nullptr;
    bool withPayload = true;
};

// For each callback kind, the registrations in registration order.
using CallbackTable = std::map<int32_t, std::vector<Registration>>;

// The three version values as the device record keeps them.
struct StoredVersions {
    uint8_t swFirmware[4] = {};  // first component in the lowest address
    uint8_t driver[4] = {};
    uint32_t hwFirmware = 0;
};

using MacAddress = std::array<uint8_t, 6>;

struct DeviceRecord {
    int32_t handle = 0;
    uint32_t type = 0;
    StoredVersions versions;
    // As the MAC export last read it: when a device is identified again it
    // tells one that came back as another unit of the same model. Not read on
    // arrival, which asks only for the type and the versions.
    std::optional<MacAddress> mac;
    CallbackTable callbacks;
};

// What exports read from a record under the lock.
struct DeviceIdentity {
    uint32_t type = 0;
    StoredVersions versions;
};

class Library {
  public:
    static Library& instance();

    // The library lock: guards the device list and the device callback tables.
    std::mutex& lock() { return lock_; }
    // Only under lock(): the first record with the handle, or null.
    DeviceRecord* findLocked(int32_t handle);
    std::vector<DeviceRecord>& devicesLocked() { return devices_; }

    // Each takes the lock for a moment.
    bool isListed(int32_t handle);
    std::optional<DeviceIdentity> identity(int32_t handle);
    void rememberMac(int32_t handle, const MacAddress& mac);

    int32_t initialize();
    int32_t uninitialize();

    ~Library();

  private:
    Library();
    void stopMonitor();

    std::mutex lock_;
    std::vector<DeviceRecord> devices_;
    bool initialized_ = false;

    // Serialises initialisation and shutdown against each other.
    std::mutex lifecycle_;
    std::thread monitor_;
    std::shared_ptr<MonitorControl> monitorControl_;
};

}  // namespace nettlebeam::api
