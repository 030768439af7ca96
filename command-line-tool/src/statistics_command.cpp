#include <cstdio>

#include "commands.h"
#include "device_session.h"
#include "reports.h"
#include "usage.h"

namespace beamctl {
namespace {

// Prints one report; returns false after printing why no more can follow.
bool printStatistics(const CommandLine& line, NettlebeamApiDeviceHandle handle,
                     std::int32_t& status) {
    std::FILE* out = line.out;
    NettlebeamApiStatistics statistics{};
    status = NettlebeamAPIGetStatistics(handle, &statistics);
    if (status != 0) {
        std::fputs("Failed to get statistics\n", out);
        explainFailure(line.err, handle, status);
        return false;
    }
    const std::optional<std::string> report = statisticsReport(statistics);
    if (!report) {
        std::fputs("Unsupported statistics version\n", out);
        status = kFailure;
        return false;
    }
    std::fputs(report->c_str(), out);
    NettlebeamApiDiskDumpStatus capture{};
    status = NettlebeamAPIDiskDumpGetStatus(handle, &capture);
    if (status == 0) std::fputs(captureSummary(capture).c_str(), out);
    std::fflush(out);
    return true;
}

}  // namespace

int runStatistics(const CommandLine& line) {
    Arguments& args = line.args;
    if (line.argc < 3 || line.help || !parses(args.statisticsTable, line.argc - 1, line.argv + 1) ||
        valueOf(args.delay) < 0) {
        return printUsage(line.out, "beamctl statistics", args.statisticsTable);
    }
    const bool continuous = present(args.continuous);
    const auto delay = static_cast<std::uint32_t>(valueOf(args.delay));
    const auto handle = startDeviceCommand(line, args.device);
    if (!handle) return kFailure;
    const LibrarySession session;
    std::int32_t status = 0;
    while (printStatistics(line, *handle, status) && continuous) {
        NettlebeamApiSleepMs(delay);
    }
    return status;
}

}  // namespace beamctl
