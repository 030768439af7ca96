#include "device_details.h"

#include <vector>

#include "json.h"
#include "reports.h"
#include "text.h"

namespace beamctl {
namespace {

const char kPortLetters[] = {'A', 'B'};

int portCount(const NettlebeamApiLinkStatus& link) {
    return link.portCount < 0 ? 0 : (link.portCount > 2 ? 2 : link.portCount);
}

std::string softwareVersion(const NettlebeamApiVersions& versions) {
    const std::uint8_t* v = versions.swFirmwareVersion;
    return format("%u.%u.%u.%u", v[0], v[1], v[2], v[3]);
}

}  // namespace

std::optional<std::uint32_t> linkMegabits(std::int32_t speed) {
    switch (speed) {
        case NETTLEBEAM_LINK_SPEED_10M:
            return 10;
        case NETTLEBEAM_LINK_SPEED_100M:
            return 100;
        case NETTLEBEAM_LINK_SPEED_1000M:
            return 1000;
        case NETTLEBEAM_LINK_SPEED_10G:
            return 10000;
        default:
            return std::nullopt;
    }
}

std::string linkText(const NettlebeamApiPortLink& port) {
    if (port.speed == NETTLEBEAM_LINK_SPEED_NO_LINK) return "no link";
    const std::optional<std::uint32_t> megabits = linkMegabits(port.speed);
    const char* duplex = port.halfDuplex == 1 ? "half" : "full";
    if (!megabits) return format("up, speed unknown, %s duplex", duplex);
    return format("%u Mbit/s %s duplex", static_cast<unsigned>(*megabits), duplex);
}

std::string detailsText(const DeviceDetails& details) {
    std::string text = "    firmware : ";
    if (details.versions) {
        text += format("software %s, hardware %u", softwareVersion(*details.versions).c_str(),
                       static_cast<unsigned>(details.versions->hwFirmwareVersion));
    } else {
        text += "unknown";
    }
    text += "\n    link : ";
    if (details.link && portCount(*details.link) > 0) {
        for (int i = 0; i < portCount(*details.link); ++i) {
            if (i > 0) text += ", ";
            text += format("%c ", kPortLetters[i]) + linkText(details.link->ports[i]);
        }
    } else {
        text += "unknown";
    }
    text += "\n    capture : ";
    text += details.capturing ? (*details.capturing ? "started" : "stopped") : "unknown";
    return text + "\n";
}

std::string detailsJson(const DeviceDetails& details) {
    JsonObject device;
    device.add("position", details.position);
    if (details.type) {
        device.add("type", static_cast<std::uint64_t>(*details.type));
        const std::optional<const char*> model = modelName(*details.type);
        model ? device.add("model", *model) : device.addNull("model");
    } else {
        device.addNull("type").addNull("model");
    }
    details.mac ? device.add("mac", macText(*details.mac)) : device.addNull("mac");
    if (details.versions) {
        device.add("softwareFirmware", softwareVersion(*details.versions));
        device.add("hardwareFirmware",
                   static_cast<std::uint64_t>(details.versions->hwFirmwareVersion));
    } else {
        device.addNull("softwareFirmware").addNull("hardwareFirmware");
    }
    if (details.link) {
        std::vector<std::string> ports;
        for (int i = 0; i < portCount(*details.link); ++i) {
            const NettlebeamApiPortLink& port = details.link->ports[i];
            JsonObject entry;
            entry.add("port", std::string(1, kPortLetters[i]));
            entry.add("link", port.speed != NETTLEBEAM_LINK_SPEED_NO_LINK);
            const std::optional<std::uint32_t> megabits = linkMegabits(port.speed);
            megabits ? entry.add("speedMbps", static_cast<std::uint64_t>(*megabits))
                     : entry.addNull("speedMbps");
            entry.add("fullDuplex", port.halfDuplex != 1);
            ports.push_back(entry.text());
        }
        device.addRaw("ports", jsonArray(ports));
    } else {
        device.addNull("ports");
    }
    details.capturing ? device.add("capturing", *details.capturing) : device.addNull("capturing");
    return device.text();
}

}  // namespace beamctl
