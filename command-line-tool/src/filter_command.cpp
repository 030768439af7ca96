#include <cstdio>
#include <string>

#include "command_line.h"
#include "device_session.h"
#include "header_filter_command.h"
#include "packet_types.h"
#include "usage.h"

namespace beamctl {
namespace {

bool readTypes(const CommandLine& line, NettlebeamApiDeviceHandle handle,
               NettlebeamApiPacketsTypeFilter& filter) {
    filter = NettlebeamApiPacketsTypeFilter{};
    const std::int32_t status = NettlebeamAPIGetPacketsTypeFilter(handle, &filter);
    if (status == 0) return true;
    std::fputs("Failed to get Nettlebeam packet type filter\n", line.out);
    explainFailure(line.err, handle, status);
    return false;
}

// The filter depends on the model and its hardware firmware; the library
// knows both for a listed device.
bool hasTypeFilter(const CommandLine& line, NettlebeamApiDeviceHandle handle) {
    if ((NettlebeamAPIGetDeviceCapabilitiesEx(handle) & CapPacketsTypeFilter) != 0) return true;
    std::fputs("Your device does not have a packet type filter\n", line.out);
    std::fputs(
        "beamctl: only ten-gigabit models with hardware firmware 220 or later filter by "
        "packet type\n",
        line.err);
    return false;
}

int setTypes(const CommandLine& line, NettlebeamApiDeviceHandle handle) {
    const Arguments& args = line.args;
    NettlebeamApiPacketsTypeFilter filter{};
    if (!readTypes(line, handle, filter)) return kFailure;
    PacketTypesChange change;
    if (args.enableTypes->count > 0) change.enable = args.enableTypes->sval[0];
    if (args.disableTypes->count > 0) change.disable = args.disableTypes->sval[0];
    if (const auto refused = applyPacketTypesChange(filter, change)) {
        std::fputs("Failed to set Nettlebeam packet type filter\n", line.out);
        std::fprintf(line.err, "beamctl: %s\n", refused->c_str());
        return kFailure;
    }
    if (const std::int32_t status = NettlebeamAPISetPacketsTypeFilter(handle, filter);
        status != 0) {
        std::fputs("Failed to set Nettlebeam packet type filter\n", line.out);
        explainFailure(line.err, handle, status);
        return kFailure;
    }
    if (present(args.save)) {
        if (const std::int32_t status = NettlebeamAPISavePacketsTypeFilter(handle); status != 0) {
            std::fputs("Failed to save Nettlebeam packet type filter\n", line.out);
            explainFailure(line.err, handle, status);
            return kFailure;
        }
    }
    return 0;
}

int showTypes(const CommandLine& line, NettlebeamApiDeviceHandle handle, bool json) {
    NettlebeamApiPacketsTypeFilter filter{};
    if (!readTypes(line, handle, filter)) return kFailure;
    if (json) {
        std::fprintf(line.out, "%s\n", packetTypesJson(filter).c_str());
    } else {
        std::fputs(packetTypesReport(filter).c_str(), line.out);
    }
    return 0;
}

int runTypes(const CommandLine& line) {
    Arguments& args = line.args;
    if (line.argc < 4 || !parses(args.typesTable, 2, line.argv + 2)) {
        return printUsage(line.out, "beamctl filter types", args.typesTable);
    }
    const bool set = sameWord(line.argv[3], "set");
    ArgTable& table = set ? args.typesSetTable : args.deviceJsonTable;
    const char* heading = set ? "beamctl filter types set" : "beamctl filter types show";
    if (line.help || !parses(table, line.argc - 3, line.argv + 3)) {
        return printUsage(line.out, heading, table);
    }
    const bool json = !set && present(args.json);
    const auto handle = startDeviceCommand(line, args.device, !json);
    if (!handle) return kFailure;
    const LibrarySession session;
    if (!hasTypeFilter(line, *handle)) return kFailure;
    if (set) return setTypes(line, *handle);
    return showTypes(line, *handle, json);
}

}  // namespace

int runFilter(const CommandLine& line) {
    Arguments& args = line.args;
    if (line.argc < 3 || !parses(args.filterTable, 2, line.argv + 1)) {
        return printUsage(line.out, "beamctl filter", args.filterTable);
    }
    if (sameWord(line.argv[2], "header")) return runHeaderFilter(line);
    return runTypes(line);
}

}  // namespace beamctl
