// Firmware image files: a 16-byte header (tag, CRC-32 of everything after
// the header, the two images' lengths) followed by the two images.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "NettlebeamAPI.h"
#include "firmware_format.h"
#include "request_codes.h"

namespace nettlebeam::codec {

inline constexpr size_t kFirmwareHeaderSize = firmware_format::kHeaderSize;
// Programming progress byte that tells an image is done.
inline constexpr uint8_t kProgrammingDone = 255;

// The tag a type's images carry (four characters read as a big-endian
// number); nothing for types whose tag is not checked.
std::optional<uint32_t> firmwareTag(NettlebeamApiDeviceType type);

// The standard CRC-32 (IEEE 802.3) of the bytes.
uint32_t firmwareCrc32(std::span<const uint8_t> bytes);

struct FirmwareImages {
    int32_t status = NETTLEBEAM_STATUS_INVALID_VALUE;  // 0 when the file passed every check
    std::span<const uint8_t> first;                    // views into the checked file
    std::span<const uint8_t> second;
};

// Checks the header against the device type and the file's length and CRC.
FirmwareImages checkFirmwareImage(std::span<const uint8_t> file, NettlebeamApiDeviceType type);

// An image as the data requests carry it: blocks of wire::kMaxFirmwareBlockBytes,
// the last one holding the rest.
std::vector<std::span<const uint8_t>> firmwareBlocks(std::span<const uint8_t> image);

// Update progress for a programming progress byte of the first or second
// image; nothing while the byte leaves the progress as it is (99 to 255).
std::optional<int32_t> firstImageProgress(uint8_t programmed);
std::optional<int32_t> secondImageProgress(uint8_t programmed);

}  // namespace nettlebeam::codec
