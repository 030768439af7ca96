#include "firmware_format.h"

#include <zlib.h>

#include <algorithm>
#include <limits>

#include "NettlebeamAPI.h"
#include "byte_order.h"

namespace nettlebeam::firmware_format {
namespace {

constexpr uint32_t tagOf(const char (&text)[5]) {
    return (static_cast<uint32_t>(static_cast<uint8_t>(text[0])) << 24) |
           (static_cast<uint32_t>(static_cast<uint8_t>(text[1])) << 16) |
           (static_cast<uint32_t>(static_cast<uint8_t>(text[2])) << 8) |
           static_cast<uint32_t>(static_cast<uint8_t>(text[3]));
}

struct TypeTag {
    uint32_t deviceType;
    uint32_t tag;
};

// Ascending by type. The types not listed (no device, bad firmware,
// unknown, the fourth gigabit generation) take any tag.
constexpr TypeTag kTypeTags[] = {
    {DeviceTypeGigabitGen1, tagOf("KV7F")},    {DeviceTypeGigabitGen1B, tagOf("KV7T")},
    {DeviceTypeGigabitGen2, tagOf("KV7P")},    {DeviceTypeGigabitGen3, tagOf("KV7W")},
    {DeviceTypeGigabitGen3Poe, tagOf("KV7W")}, {DeviceTypeGigabitGen2Poe, tagOf("KV7P")},
    {DeviceTypeGigabitGen2Gps, tagOf("KV7P")}, {DeviceTypeGigabitGen2GpsPoe, tagOf("KV7P")},
    {DeviceTypeTenGigabit, tagOf("KVTX")},     {DeviceTypeTenGigabitGps, tagOf("QRZM")},
    {DeviceTypeFastEthernet, tagOf("QFHD")},
};

}  // namespace

std::optional<uint32_t> tagForDeviceType(uint32_t deviceType) {
    for (const TypeTag& entry : kTypeTags)
        if (entry.deviceType == deviceType) return entry.tag;
    return std::nullopt;
}

std::vector<uint32_t> taggedDeviceTypes() {
    std::vector<uint32_t> types;
    for (const TypeTag& entry : kTypeTags) types.push_back(entry.deviceType);
    return types;
}

uint32_t crc32(std::span<const uint8_t> bytes) {
    uLong crc = ::crc32(0L, Z_NULL, 0);
    // zlib takes 32-bit lengths: feed large inputs in pieces.
    constexpr size_t kPiece = std::numeric_limits<uInt>::max();
    while (!bytes.empty()) {
        const size_t length = std::min(bytes.size(), kPiece);
        crc = ::crc32(crc, bytes.data(), static_cast<uInt>(length));
        bytes = bytes.subspan(length);
    }
    return static_cast<uint32_t>(crc);
}

std::vector<uint8_t> buildFile(uint32_t tag, std::span<const uint8_t> first,
                               std::span<const uint8_t> second) {
    std::vector<uint8_t> file(kHeaderSize);
    file.reserve(kHeaderSize + first.size() + second.size());
    wire::writeLe32(file, kTagOffset, tag);
    wire::writeLe32(file, kFirstLengthOffset, static_cast<uint32_t>(first.size()));
    wire::writeLe32(file, kSecondLengthOffset, static_cast<uint32_t>(second.size()));
    file.insert(file.end(), first.begin(), first.end());
    file.insert(file.end(), second.begin(), second.end());
    wire::writeLe32(file, kCrcOffset, crc32(std::span(file).subspan(kHeaderSize)));
    return file;
}

Fault check(std::span<const uint8_t> file, std::optional<uint32_t> expectedTag) {
    if (file.size() < kHeaderSize) return Fault::Short;
    if (expectedTag && wire::readLe32(file, kTagOffset) != *expectedTag) return Fault::WrongTag;
    if (crc32(file.subspan(kHeaderSize)) != wire::readLe32(file, kCrcOffset))
        return Fault::CrcMismatch;
    const uint64_t declared = kHeaderSize + uint64_t{wire::readLe32(file, kFirstLengthOffset)} +
                              wire::readLe32(file, kSecondLengthOffset);
    if (declared != file.size()) return Fault::LengthMismatch;
    return Fault::None;
}

std::optional<ImageVersions> announcedVersions(std::span<const uint8_t> image) {
    constexpr size_t kVersionsHeadSize = 12;
    if (image.size() < kVersionsHeadSize) return std::nullopt;
    const bool announces =
        std::equal(image.begin(), image.begin() + 3, "NBF") && (image[3] == 'W' || image[3] == 'C');
    if (!announces) return std::nullopt;
    ImageVersions versions;
    std::copy(image.begin() + 4, image.begin() + 8, versions.software.begin());
    versions.hardware = wire::readLe32(image, 8);
    return versions;
}

bool isNewerSoftware(const std::array<uint8_t, 4>& to, const std::array<uint8_t, 4>& from) {
    return std::lexicographical_compare(from.begin(), from.end(), to.begin(), to.end());
}

bool isNewerFirmware(const ImageVersions& to, const ImageVersions& from) {
    return isNewerSoftware(to.software, from.software) || to.hardware > from.hardware;
}

Images images(std::span<const uint8_t> file) {
    const size_t firstLength = wire::readLe32(file, kFirstLengthOffset);
    const size_t secondLength = wire::readLe32(file, kSecondLengthOffset);
    return {file.subspan(kHeaderSize, firstLength),
            file.subspan(kHeaderSize + firstLength, secondLength)};
}

}  // namespace nettlebeam::firmware_format
