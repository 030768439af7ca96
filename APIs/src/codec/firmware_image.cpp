#include "codec/firmware_image.h"

#include <zlib.h>

#include <algorithm>
#include <limits>

#include "codec/byte_order.h"

namespace nettlebeam::codec {
namespace {

constexpr uint32_t tagOf(const char (&text)[5]) {
    return (static_cast<uint32_t>(static_cast<uint8_t>(text[0])) << 24) |
           (static_cast<uint32_t>(static_cast<uint8_t>(text[1])) << 16) |
           (static_cast<uint32_t>(static_cast<uint8_t>(text[2])) << 8) |
           static_cast<uint32_t>(static_cast<uint8_t>(text[3]));
}

constexpr uint8_t kLastProgressingValue = 98;

std::optional<int32_t> scaledProgress(uint8_t programmed, int32_t base, int32_t range) {
    if (programmed > kLastProgressingValue) return std::nullopt;
    return base + range * programmed / 100;
}

}  // namespace

std::optional<uint32_t> firmwareTag(NettlebeamApiDeviceType type) {
    switch (type) {
        case DeviceTypeGigabitGen1:
            return tagOf("KV7F");
        case DeviceTypeGigabitGen1B:
            return tagOf("KV7T");
        case DeviceTypeGigabitGen2:
        case DeviceTypeGigabitGen2Poe:
        case DeviceTypeGigabitGen2Gps:
        case DeviceTypeGigabitGen2GpsPoe:
            return tagOf("KV7P");
        case DeviceTypeGigabitGen3:
        case DeviceTypeGigabitGen3Poe:
            return tagOf("KV7W");
        case DeviceTypeTenGigabit:
            return tagOf("KVTX");
        case DeviceTypeTenGigabitGps:
            return tagOf("QRZM");
        case DeviceTypeFastEthernet:
            return tagOf("QFHD");
        default:
            return std::nullopt;
    }
}

uint32_t firmwareCrc32(std::span<const uint8_t> bytes) {
    uLong crc = crc32(0L, Z_NULL, 0);
    // zlib takes 32-bit lengths: feed large inputs in pieces.
    constexpr size_t kPiece = std::numeric_limits<uInt>::max();
    while (!bytes.empty()) {
        const size_t length = std::min(bytes.size(), kPiece);
        crc = crc32(crc, bytes.data(), static_cast<uInt>(length));
        bytes = bytes.subspan(length);
    }
    return static_cast<uint32_t>(crc);
}

FirmwareImages checkFirmwareImage(std::span<const uint8_t> file, NettlebeamApiDeviceType type) {
    FirmwareImages result;
    if (file.size() < kFirmwareHeaderSize) return result;
    const auto tag = firmwareTag(type);
    if (tag && readLe32(file, 0) != *tag) return result;
    const uint64_t firstLength = readLe32(file, 8);
    const uint64_t secondLength = readLe32(file, 12);
    if (file.size() != kFirmwareHeaderSize + firstLength + secondLength) return result;
    if (firmwareCrc32(file.subspan(kFirmwareHeaderSize)) != readLe32(file, 4)) return result;
    result.status = NETTLEBEAM_STATUS_SUCCESS;
    result.first = file.subspan(kFirmwareHeaderSize, firstLength);
    result.second = file.subspan(kFirmwareHeaderSize + firstLength, secondLength);
    return result;
}

std::vector<std::span<const uint8_t>> firmwareBlocks(std::span<const uint8_t> image) {
    std::vector<std::span<const uint8_t>> blocks;
    while (!image.empty()) {
        const size_t length = std::min(image.size(), kFirmwareBlockSize);
        blocks.push_back(image.first(length));
        image = image.subspan(length);
    }
    return blocks;
}

std::optional<int32_t> firstImageProgress(uint8_t programmed) {
    return scaledProgress(programmed, 10, 15);
}

std::optional<int32_t> secondImageProgress(uint8_t programmed) {
    return scaledProgress(programmed, 50, 50);
}

}  // namespace nettlebeam::codec
