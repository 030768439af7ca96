// The backends the daemon knows, and the choice among them for an attach
// line or a fleet line.
#pragma once

#include <cstdint>
#include <string>
#include <variant>
#include <vector>

#include "device_backend.h"

namespace nettlebeam::driver {

// Every backend, the default one (the simulated device) first.
const std::vector<DeviceBackend>& deviceBackends();

// The backend whose attach request has this code; null when none has.
const DeviceBackend* backendForAttachCode(uint32_t code);

// The device, or a one-line error naming the bad option.
using DeviceSpecResult = std::variant<DeviceSpec, std::string>;

// The backend whose selector option the arguments carry (the default one,
// first in `backends`, when they carry none) parses them.
DeviceSpecResult parseDeviceSpec(const std::vector<std::string>& args,
                                 const std::vector<DeviceBackend>& backends = deviceBackends());

}  // namespace nettlebeam::driver
