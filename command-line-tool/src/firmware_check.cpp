#include "firmware_check.h"

#include <algorithm>

#include "byte_order.h"
#include "reports.h"
#include "text.h"

namespace beamctl {
namespace {

namespace image_format = nettlebeam::firmware_format;

std::string tagText(std::uint32_t tag) {
    std::string text;
    for (int shift = 24; shift >= 0; shift -= 8) {
        const char c = static_cast<char>(tag >> shift);
        text += c >= 0x20 && c < 0x7F ? c : '?';
    }
    return text;
}

// "Ten-Gigabit (image tag KVTX)"; a tag no model carries is named alone.
std::string modelOfTag(std::uint32_t tag) {
    for (const std::uint32_t type : image_format::taggedDeviceTypes()) {
        if (image_format::tagForDeviceType(type) != tag) continue;
        const std::optional<const char*> model = modelName(type);
        return format("%s (image tag %s)", model ? *model : "another model", tagText(tag).c_str());
    }
    return format("no known model (image tag %s)", tagText(tag).c_str());
}

const char* faultText(image_format::Fault fault) {
    switch (fault) {
        case image_format::Fault::Short:
            return "it is shorter than an image header";
        case image_format::Fault::CrcMismatch:
            return "its CRC-32 does not match its contents";
        case image_format::Fault::LengthMismatch:
            return "its length is not the one its header gives";
        case image_format::Fault::WrongTag:
        case image_format::Fault::None:
            break;
    }
    return "it is damaged";
}

}  // namespace

std::string firmwareVersionsText(const FirmwareVersions& v) {
    return format("%u.%u.%u.%u (hardware %u)", v.software[0], v.software[1], v.software[2],
                  v.software[3], static_cast<unsigned>(v.hardware));
}

FirmwareVersions firmwareVersionsOf(const NettlebeamApiVersions& versions) {
    FirmwareVersions v;
    std::copy(versions.swFirmwareVersion, versions.swFirmwareVersion + 4, v.software.begin());
    v.hardware = versions.hwFirmwareVersion;
    return v;
}

FirmwarePlan planFirmwareUpdate(std::span<const std::uint8_t> file, std::uint32_t deviceType,
                                const FirmwareVersions& from, bool force) {
    FirmwarePlan plan;
    // The model first: a damaged file for another model is still for
    // another model, and saying so is the more useful reason.
    const std::optional<std::uint32_t> expected = image_format::tagForDeviceType(deviceType);
    if (file.size() >= image_format::kHeaderSize && expected) {
        const std::uint32_t tag = nettlebeam::wire::readLe32(file, image_format::kTagOffset);
        if (tag != *expected) {
            const std::optional<const char*> model = modelName(deviceType);
            plan.refusal = format("the file is for %s, the device is a %s (image tag %s)",
                                  modelOfTag(tag).c_str(), model ? *model : "device",
                                  tagText(*expected).c_str());
            return plan;
        }
    }
    if (const image_format::Fault fault = image_format::check(file, std::nullopt);
        fault != image_format::Fault::None) {
        plan.refusal = format("the file is not a firmware image: %s", faultText(fault));
        return plan;
    }
    const image_format::Images images = image_format::images(file);
    plan.to = image_format::announcedVersions(images.second);
    if (!plan.to) plan.to = image_format::announcedVersions(images.first);
    if (force) return plan;
    if (!plan.to) {
        plan.refusal =
            "the file announces no firmware version, so it may be older than the "
            "device's; --force sends it anyway";
    } else if (*plan.to == from) {
        plan.refusal = format("the device already runs %s; --force sends the file again",
                              firmwareVersionsText(from).c_str());
    } else if (!image_format::isNewerFirmware(*plan.to, from)) {
        plan.refusal = format(
            "the file holds %s, not newer than the device's %s; --force "
            "sends it anyway",
            firmwareVersionsText(*plan.to).c_str(), firmwareVersionsText(from).c_str());
    }
    return plan;
}

}  // namespace beamctl
