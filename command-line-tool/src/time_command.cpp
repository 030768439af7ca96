#include <cstdio>

#include "command_line.h"
#include "device_session.h"
#include "timing_report.h"
#include "usage.h"

namespace beamctl {
namespace {

bool hasTiming(const CommandLine& line, NettlebeamApiDeviceHandle handle) {
    NettlebeamApiDeviceType type = 0;
    if (const std::int32_t status = NettlebeamAPIGetDeviceType(handle, &type); status != 0) {
        std::fputs("Failed to get device type\n", line.out);
        explainFailure(line.err, handle, status);
        return false;
    }
    if ((NettlebeamAPIGetDeviceCapabilities(type) & CapTiming) != 0) return true;
    std::fputs("Your device does not support timing\n", line.out);
    std::fputs("beamctl: this model has no time source to show\n", line.err);
    return false;
}

}  // namespace

int runTime(const CommandLine& line) {
    Arguments& args = line.args;
    if (line.argc < 3 || !parses(args.timeTable, 2, line.argv + 1)) {
        return printUsage(line.out, "beamctl time", args.timeTable);
    }
    if (line.help || !parses(args.deviceJsonTable, line.argc - 2, line.argv + 2)) {
        return printUsage(line.out, "beamctl time show", args.deviceJsonTable);
    }
    const bool json = present(args.json);
    const auto handle = startDeviceCommand(line, args.device, !json);
    if (!handle) return kFailure;
    const LibrarySession session;
    if (!hasTiming(line, *handle)) return kFailure;
    NettlebeamApiTimingStatus status{};
    if (const std::int32_t result = NettlebeamAPIGetTimingStatus(*handle, &status); result != 0) {
        std::fputs("Failed to get Nettlebeam timing status\n", line.out);
        explainFailure(line.err, *handle, result);
        return kFailure;
    }
    if (json) {
        std::fprintf(line.out, "%s\n", timingJson(status).c_str());
    } else {
        std::fputs(timingReport(status).c_str(), line.out);
    }
    return 0;
}

}  // namespace beamctl
