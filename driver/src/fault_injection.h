// Faults that tests arm: the next requests of a code for a device fail, come
// back cut short, or come back as given bytes.
#pragma once

#include <cstdint>
#include <optional>
#include <vector>

#include "device_model.h"

namespace nettlebeam::driver {

struct Fault {
    enum class Action : uint32_t { Fail = 0, Truncate = 1, Replace = 2 };
    bool anyHandle = false;  // matches the requests that carry no handle
    DeviceHandle handle = 0;
    uint32_t code = 0;
    Action action = Action::Fail;
    uint32_t truncateTo = 0;     // Truncate: keep this many bytes at most
    std::vector<uint8_t> bytes;  // Replace: the whole reply
    uint32_t times = 1;
};

class FaultInjector {
  public:
    void arm(Fault fault);
    // The fault for this request, consumed once; `handle` is empty for the
    // requests without a handle.
    std::optional<Fault> take(uint32_t code, std::optional<DeviceHandle> handle);
    // Whether a fault waits for this code of this device (nothing is consumed).
    bool armed(uint32_t code, DeviceHandle handle) const;
    void forgetDevice(DeviceHandle handle);

  private:
    std::vector<Fault> faults_;
};

std::vector<uint8_t> encodeFault(const Fault& fault);
std::optional<Fault> decodeFault(const std::vector<uint8_t>& bytes);

}  // namespace nettlebeam::driver
