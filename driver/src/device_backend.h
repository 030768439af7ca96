// A kind of device the daemon can attach. The simulated device is one; a
// device made of Linux network interfaces would be another.
//
// The server, the fleet and `nettlebeamd attach` know a device only through
// its backend: the options that describe it (an attach command line or a
// fleet line), the bytes those options travel as in the attach request, and
// the model those bytes build. A backend that joins needs no change to them.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <variant>
#include <vector>

#include "device_model.h"

namespace nettlebeam::driver {

// Builds the model of one device for the handle the server gives it.
using ModelFactory = std::function<std::unique_ptr<DeviceModel>(DeviceHandle, DeviceHost&)>;

// The encoded settings of a device, or a one-line error naming the bad option.
using BackendOptionsResult = std::variant<std::vector<uint8_t>, std::string>;

struct DeviceBackend {
    // Names the backend in errors.
    std::string name;
    // The admin request that attaches a device of this backend; its input is
    // the encoded settings. One code per backend keeps each backend's bytes
    // its own.
    uint32_t attachCode = 0;
    // The option only this backend takes, whose presence on an attach line
    // asks for it; empty for the backend of lines that name none.
    std::string selector;
    // The attach arguments (or the words of a fleet line) to the encoded
    // settings. Runs in the command that sends them and in the daemon for
    // its fleet, so anything it checks on disk is checked where it is read.
    std::function<BackendOptionsResult(const std::vector<std::string>&)> parse;
    // The encoded settings, as they come from any client, to the factory of
    // their device; empty when they do not decode.
    std::function<std::optional<ModelFactory>(const std::vector<uint8_t>&)> decode;
};

// One device to attach: its backend and its encoded settings.
struct DeviceSpec {
    const DeviceBackend* backend = nullptr;
    std::vector<uint8_t> settings;
};

}  // namespace nettlebeam::driver
