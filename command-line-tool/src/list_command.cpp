#include <cstdint>
#include <cstdio>

#include "commands.h"
#include "device_session.h"
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

}  // namespace

int runList(const CommandLine& line) {
    if (line.help) return printListUsage(line.out);
    if (!initializeLibrary(line.out)) return kFailure;
    const LibrarySession session;
    waitForDevice();
    const DeviceList list = readDeviceList();
    const int count = list ? list->count : 0;
    std::fprintf(line.out, "Found %d nettlebeams\n", count);
    // No device may mean no daemon at all: a script must not take that for
    // an empty but working setup.
    if (count == 0 && reportMissingDaemon(line.err)) return kFailure;
    int index = 0;
    for (const NettlebeamApiDevicesListEntry* entry = list ? list->first : nullptr;
         entry != nullptr; entry = entry->next) {
        std::fprintf(line.out, "%d : ", index++);
        printDevice(line.out, handleOf(*entry));
    }
    return 0;
}

}  // namespace beamctl
