// The firmware image files the manager ships and its image tool writes. The
// file format itself is shared with the library (APIs/firmware_format); this
// adds what only the tool needs: tags typed by hand, reasons in words, and
// images for simulated hardware.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "firmware_format.h"

namespace firmwareimage {

using Bytes = std::vector<uint8_t>;

constexpr std::size_t kHeaderSize = nettlebeam::firmware_format::kHeaderSize;

// Four characters read as a big-endian number ("KV7P" -> 0x4B563750); nothing
// unless the text is exactly four printable ASCII characters.
std::optional<uint32_t> tagFromText(std::string_view text);

// The tag a device type's images carry, or nothing for the types whose images
// are not checked (0, 1, 2, 14 and unknown types).
std::optional<uint32_t> tagForDeviceType(uint32_t deviceType);

// Every device type that has a tag, in ascending order.
std::vector<uint32_t> taggedDeviceTypes();

// The whole file for the two images.
Bytes buildImageFile(uint32_t tag, const Bytes& first, const Bytes& second);

// Why a file would be refused by a device of a type with `expectedTag`
// (nothing when the type's images are not checked); empty when it is sound.
std::string checkImageFile(const Bytes& file, std::optional<uint32_t> expectedTag);

// An image for simulated hardware. Its 16-byte head announces the versions
// the device runs once it is programmed ("NBFC", the software version first
// component first, the hardware version little-endian) and the CRC-32
// (little-endian) of what follows, which the device checks against the
// blocks it received; then a fixed pseudo-random pattern up to `size` bytes
// (at least the head).
Bytes makeVersionedImage(const std::array<uint8_t, 4>& software, uint32_t hardware,
                         std::size_t size);

}  // namespace firmwareimage
