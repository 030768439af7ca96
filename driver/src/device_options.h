// The options that describe one simulated device, shared by `attach` and the
// lines of a fleet file.
#pragma once

#include <string>
#include <variant>
#include <vector>

#include "sim/simulated_device.h"

namespace nettlebeam::driver {

// The settings, or a one-line error naming the bad option.
using DeviceOptionsResult = std::variant<SimulatedDeviceSettings, std::string>;

// Parses "(--type N | --hwid 0xNN) [--gps yes|no] [--mac M] [--hw-fw N]
// [--sw-fw A.B.C.D] [--driver-version A.B.C.D] [--usb 1|2|3]
// [--cage-a sr|lr|empty] [--cage-b sr|lr|empty]
// [--traffic PROFILE | --replay FILE [--replay-speed X|max] [--replay-loop]
// [--replay-ports A|B|split]]".
// --traffic takes the syntax of traffic/traffic_profile.h; a replay file is
// read completely here, so a missing, damaged or foreign file is an error.
DeviceOptionsResult parseDeviceOptions(const std::vector<std::string>& args);

// The identifier a device of that type answers; empty for type 0 and above 14.
std::optional<uint8_t> hardwareIdForType(unsigned type);

// The device settings as they travel in the attach request, and back.
std::vector<uint8_t> encodeDeviceSettings(const SimulatedDeviceSettings& settings);
std::optional<SimulatedDeviceSettings> decodeDeviceSettings(const std::vector<uint8_t>& bytes);

}  // namespace nettlebeam::driver
