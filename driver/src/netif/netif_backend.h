// The interface device as a backend: its options (netif_options.h), their
// encoding, and a simulated device whose ports are the interfaces.
#pragma once

#include "../device_backend.h"

namespace nettlebeam::driver {

DeviceBackend interfaceBackend();

}  // namespace nettlebeam::driver
