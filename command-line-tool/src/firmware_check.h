// `firmware update`: what is checked before a file is sent to a device, as
// the window checks a catalogued image before it offers it: the file is a
// sound image for this device's model, and it is newer than what the device
// runs unless sending it anyway is forced.
#pragma once

#include <NettlebeamAPI.h>

#include <cstdint>
#include <optional>
#include <span>
#include <string>

#include "firmware_format.h"

namespace beamctl {

using FirmwareVersions = nettlebeam::firmware_format::ImageVersions;

// "1.2.0.0 (hardware 210)"
std::string firmwareVersionsText(const FirmwareVersions& versions);

// The versions of a device as the library reports them.
FirmwareVersions firmwareVersionsOf(const NettlebeamApiVersions& versions);

struct FirmwarePlan {
    std::optional<std::string> refusal;  // why the file is not sent
    // The versions the device runs after the update, when the file
    // announces them (its second image is programmed last).
    std::optional<FirmwareVersions> to;
};

// Checks `file` for a device of `deviceType` running `from`: a readable
// image (header, CRC, lengths), the image tag of the device's model (types
// without a tag take any), and versions the window would offer: newer
// software firmware, or else newer hardware firmware (a file that announces
// none cannot be told from an older one). `force` lets only the version
// checks pass.
FirmwarePlan planFirmwareUpdate(std::span<const std::uint8_t> file, std::uint32_t deviceType,
                                const FirmwareVersions& from, bool force);

}  // namespace beamctl
