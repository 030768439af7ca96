// The devices attached when the daemon starts.
//
// A fleet file lists one device per line with the options of `attach`
// ("--type 12 --mac 00:11:22:33:44:55"), the device's backend chosen as
// `attach` chooses it; '#' starts a comment; blank lines are ignored.
#pragma once

#include <string>
#include <variant>
#include <vector>

#include "device_backend.h"

namespace nettlebeam::driver {

using Fleet = std::vector<DeviceSpec>;
// The fleet, or a one-line error ("FILE:LINE: ...").
using FleetResult = std::variant<Fleet, std::string>;

// "demo", "empty", or the path of a fleet file.
FleetResult loadFleet(const std::string& nameOrPath);
// The lines of a fleet file; `origin` names it in errors.
FleetResult parseFleetText(const std::string& text, const std::string& origin);

}  // namespace nettlebeam::driver
