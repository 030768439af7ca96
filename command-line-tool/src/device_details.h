// What `list --long` and `list --json` tell about each device, and how
// both print it. Every field may be missing: a device that fails one read
// still shows the rest.
#pragma once

#include <NettlebeamAPI.h>

#include <cstdint>
#include <optional>
#include <string>

#include "device_choice.h"

namespace beamctl {

struct DeviceDetails {
    int position = 0;
    std::optional<std::uint32_t> type;
    std::optional<Mac> mac;
    std::optional<NettlebeamApiVersions> versions;
    std::optional<NettlebeamApiLinkStatus> link;  // only when the device marked it valid
    std::optional<bool> capturing;
};

// The link speed of a port in Mbit/s; nothing without a link or when the
// device does not know it.
std::optional<std::uint32_t> linkMegabits(std::int32_t speed);

// "1000 Mbit/s full duplex", "no link", ...
std::string linkText(const NettlebeamApiPortLink& port);

// The lines `list --long` prints after a device's usual line.
std::string detailsText(const DeviceDetails& details);

// The JSON object of one device.
std::string detailsJson(const DeviceDetails& details);

}  // namespace beamctl
