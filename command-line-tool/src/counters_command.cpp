#include <cstdio>
#include <string>
#include <vector>

#include "commands.h"
#include "counter_definition.h"
#include "device_session.h"
#include "json.h"
#include "text.h"
#include "usage.h"

namespace beamctl {
namespace {

bool hasCounters(const CommandLine& line, NettlebeamApiDeviceHandle handle) {
    NettlebeamApiDeviceType type = 0;
    if (const std::int32_t status = NettlebeamAPIGetDeviceType(handle, &type); status != 0) {
        std::fputs("Failed to get device type\n", line.out);
        explainFailure(line.err, handle, status);
        return false;
    }
    if ((NettlebeamAPIGetDeviceCapabilities(type) & CapStatisticsV2) != 0) return true;
    std::fputs("Your device does not have programmable counters\n", line.out);
    std::fputs("beamctl: only ten-gigabit models count with programmable counters\n", line.err);
    return false;
}

int showCounters(const CommandLine& line, NettlebeamApiDeviceHandle handle, bool json) {
    std::vector<std::string> objects;
    std::string text;
    for (std::int32_t index = 0; index < NETTLEBEAM_PROGRAMMABLE_COUNTERS; ++index) {
        NettlebeamApiCounterV2 counter{};
        if (const std::int32_t status = NettlebeamAPIGetCounterV2(handle, index, &counter);
            status != 0) {
            std::fprintf(line.out, "Failed to get Nettlebeam counter %02d\n", index + 1);
            explainFailure(line.err, handle, status);
            return kFailure;
        }
        objects.push_back(counterJson(counter, index + 1));
        text += format("Counter %02d : %s\n", index + 1, counterDefinition(counter).c_str());
    }
    if (json) {
        JsonObject report;
        report.addRaw("counters", jsonArray(objects));
        std::fprintf(line.out, "%s\n", report.text().c_str());
    } else {
        std::fputs(text.c_str(), line.out);
    }
    return 0;
}

}  // namespace

int runCounters(const CommandLine& line) {
    Arguments& args = line.args;
    if (line.argc < 3 || !parses(args.countersTable, 2, line.argv + 1)) {
        return printUsage(line.out, "beamctl counters", args.countersTable);
    }
    if (line.help || !parses(args.deviceJsonTable, line.argc - 2, line.argv + 2)) {
        return printUsage(line.out, "beamctl counters show", args.deviceJsonTable);
    }
    const bool json = present(args.json);
    const auto handle = startDeviceCommand(line, args.device, !json);
    if (!handle) return kFailure;
    const LibrarySession session;
    if (!hasCounters(line, *handle)) return kFailure;
    return showCounters(line, *handle, json);
}

}  // namespace beamctl
