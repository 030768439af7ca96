// The simulated device as a backend: the options of device_options.h, their
// encoding in the attach request, and sim/simulated_device.h for the model.
#pragma once

#include "device_backend.h"

namespace nettlebeam::driver {

DeviceBackend simulatedBackend();

}  // namespace nettlebeam::driver
