#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "command_line.h"
#include "device_details.h"
#include "device_session.h"
#include "json.h"
#include "reports.h"
#include "usage.h"

namespace beamctl {
namespace {

void printDevice(std::FILE* out, NettlebeamApiDeviceHandle handle) {
    NettlebeamApiDeviceType type = 0;
    if (NettlebeamAPIGetDeviceType(handle, &type) != 0) {
        std::fputs("Error\n", out);
        return;
    }
    const std::optional<const char*> model = modelName(type);
    if (!model) {
        std::fputs("Error\n", out);
        return;
    }
    std::fprintf(out, "%s ", *model);
    std::uint8_t mac[6] = {};
    if (NettlebeamAPIGetDeviceMAC(handle, mac) != 0) {
        std::fputs("MAC error\n", out);
        return;
    }
    std::fputs(macLine(mac).c_str(), out);
}

DeviceDetails readDetails(NettlebeamApiDeviceHandle handle, int position) {
    DeviceDetails details;
    details.position = position;
    NettlebeamApiDeviceType type = 0;
    if (NettlebeamAPIGetDeviceType(handle, &type) == 0) details.type = type;
    Mac mac{};
    if (NettlebeamAPIGetDeviceMAC(handle, mac.data()) == 0) details.mac = mac;
    NettlebeamApiVersions versions{};
    if (NettlebeamAPIGetVersions(handle, &versions) == 0) details.versions = versions;
    NettlebeamApiLinkStatus link{};
    if (NettlebeamAPIGetLinkStatus(handle, &link) == 0 && link.linkValid != 0) details.link = link;
    NettlebeamApiDiskDumpStatus capture{};
    if (NettlebeamAPIDiskDumpGetStatus(handle, &capture) == 0) {
        details.capturing = capture.enabled != 0;
    }
    return details;
}

}  // namespace

int runList(const CommandLine& line) {
    if (line.help) return printListUsage(line.out);
    // Other words after `list` have always been ignored; only these two count.
    const bool json = hasWord(line, "--json");
    const bool detailed = json || hasWord(line, "--long");
    if (!initializeLibrary(line.out)) return kFailure;
    const LibrarySession session;
    waitForDevice();
    const DeviceList list = readDeviceList();
    const int count = list ? list->count : 0;
    if (!json) std::fprintf(line.out, "Found %d nettlebeams\n", count);
    // No device may mean no daemon at all: a script must not take that for
    // an empty but working setup.
    if (count == 0 && reportMissingDaemon(line.err)) return kFailure;
    std::vector<std::string> devices;
    int index = 0;
    for (const NettlebeamApiDevicesListEntry* entry = list ? list->first : nullptr;
         entry != nullptr; entry = entry->next) {
        const NettlebeamApiDeviceHandle handle = handleOf(*entry);
        const int position = index++;
        if (!json) {
            std::fprintf(line.out, "%d : ", position);
            printDevice(line.out, handle);
        }
        if (!detailed) continue;
        const DeviceDetails details = readDetails(handle, position);
        if (json) {
            devices.push_back(detailsJson(details));
        } else {
            std::fputs(detailsText(details).c_str(), line.out);
        }
    }
    if (json) {
        JsonObject report;
        report.add("count", count).addRaw("devices", jsonArray(devices));
        std::fprintf(line.out, "%s\n", report.text().c_str());
    }
    return 0;
}

}  // namespace beamctl
