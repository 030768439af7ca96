// The firmware image file the devices are updated from: a 16-byte
// little-endian header (tag, CRC-32 of everything after the header, the two
// image lengths) followed by the first and the second image.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

namespace nettlebeam::firmware_format {

inline constexpr size_t kHeaderSize = 16;
// Where the header's little-endian words sit.
inline constexpr size_t kTagOffset = 0;
inline constexpr size_t kCrcOffset = 4;
inline constexpr size_t kFirstLengthOffset = 8;
inline constexpr size_t kSecondLengthOffset = 12;

// The tag a device type's images carry (four characters read as a big-endian
// number, "KV7P" -> 0x4B563750), or nothing for the types whose images are
// not checked.
std::optional<uint32_t> tagForDeviceType(uint32_t deviceType);

// Every device type that has a tag, in ascending order.
std::vector<uint32_t> taggedDeviceTypes();

// The standard CRC-32 (IEEE 802.3) of the bytes.
uint32_t crc32(std::span<const uint8_t> bytes);

// The whole file for the two images. Each image must be shorter than 4 GiB.
std::vector<uint8_t> buildFile(uint32_t tag, std::span<const uint8_t> first,
                               std::span<const uint8_t> second);

// What a device of a type whose images carry `expectedTag` (nothing when
// they are not checked) finds wrong with a file, in the order it looks.
enum class Fault { None, Short, WrongTag, CrcMismatch, LengthMismatch };
Fault check(std::span<const uint8_t> file, std::optional<uint32_t> expectedTag);

// The two images of a file that passed check().
struct Images {
    std::span<const uint8_t> first;
    std::span<const uint8_t> second;
};
Images images(std::span<const uint8_t> file);

// The versions an image announces in its first twelve bytes: "NBFW" or
// "NBFC", the software firmware version (first component first) and the
// hardware firmware version (little-endian). A device programmed with the
// image runs these versions; an image without the head keeps the device's.
struct ImageVersions {
    std::array<uint8_t, 4> software{};
    uint32_t hardware = 0;
    bool operator==(const ImageVersions&) const = default;
};
std::optional<ImageVersions> announcedVersions(std::span<const uint8_t> image);

// Whether software version `to` is newer than `from`, component by
// component from the first, each an unsigned byte.
bool isNewerSoftware(const std::array<uint8_t, 4>& to, const std::array<uint8_t, 4>& from);

// Whether a device running `from` is offered an image that installs `to`:
// its software firmware is newer, or else its hardware firmware is (an
// older software version does not settle it).
bool isNewerFirmware(const ImageVersions& to, const ImageVersions& from);

}  // namespace nettlebeam::firmware_format
