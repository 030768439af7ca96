// Reads one device through the public library: one request per part.
#pragma once

#include <optional>
#include <set>
#include <string>

#include "device_sample.h"

namespace nettlebeam::exporter {

// Empty when the device no longer answers who it is (it left, or the driver
// went away): it then drops out of this scrape. Also empty, after reading
// only its MAC address, for a device not in `selected` (empty selects all).
std::optional<DeviceSample> readDevice(NettlebeamApiDeviceHandle handle,
                                       const std::set<std::string>& selected);

}  // namespace nettlebeam::exporter
