#include "codec/firmware_image.h"

#include <algorithm>

#include "firmware_format.h"

namespace nettlebeam::codec {
namespace {

constexpr uint8_t kLastProgressingValue = 98;

std::optional<int32_t> scaledProgress(uint8_t programmed, int32_t base, int32_t range) {
    if (programmed > kLastProgressingValue) return std::nullopt;
    return base + range * programmed / 100;
}

}  // namespace

std::optional<uint32_t> firmwareTag(NettlebeamApiDeviceType type) {
    return firmware_format::tagForDeviceType(type);
}

uint32_t firmwareCrc32(std::span<const uint8_t> bytes) {
    return firmware_format::crc32(bytes);
}

FirmwareImages checkFirmwareImage(std::span<const uint8_t> file, NettlebeamApiDeviceType type) {
    FirmwareImages result;
    if (firmware_format::check(file, firmwareTag(type)) != firmware_format::Fault::None)
        return result;
    const auto images = firmware_format::images(file);
    result.status = NETTLEBEAM_STATUS_SUCCESS;
    result.first = images.first;
    result.second = images.second;
    return result;
}

std::vector<std::span<const uint8_t>> firmwareBlocks(std::span<const uint8_t> image) {
    std::vector<std::span<const uint8_t>> blocks;
    while (!image.empty()) {
        const size_t length = std::min<size_t>(image.size(), wire::kMaxFirmwareBlockBytes);
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
