#include "header_filter_command.h"

#include <cstdio>
#include <string>

#include "device_session.h"
#include "header_filter.h"
#include "usage.h"

namespace beamctl {
namespace {

bool hasHeaderFilter(const CommandLine& line, NettlebeamApiDeviceHandle handle) {
    NettlebeamApiDeviceType type = 0;
    if (const std::int32_t status = NettlebeamAPIGetDeviceType(handle, &type); status != 0) {
        std::fputs("Failed to get device type\n", line.out);
        explainFailure(line.err, handle, status);
        return false;
    }
    if ((NettlebeamAPIGetDeviceCapabilities(type) & CapPacketFilter) != 0) return true;
    std::fputs("Your device does not support filtering\n", line.out);
    std::fputs("beamctl: this model has no packet filter\n", line.err);
    return false;
}

bool readFilter(const CommandLine& line, NettlebeamApiDeviceHandle handle,
                NettlebeamApiPacketFilter& filter) {
    filter = NettlebeamApiPacketFilter{};
    const std::int32_t status = NettlebeamAPIGetPacketFilter(handle, &filter);
    if (status == 0) return true;
    std::fputs("Failed to get Nettlebeam packet filter\n", line.out);
    explainFailure(line.err, handle, status);
    return false;
}

HeaderFilterChange changeOf(const Arguments& args) {
    const auto given = [](const arg_str* option) {
        return option->count > 0 ? std::optional<std::string>(option->sval[0]) : std::nullopt;
    };
    HeaderFilterChange change;
    change.enabled = given(args.headerEnabled);
    change.ipVersion = given(args.ipVersion);
    change.srcMac = given(args.srcMac);
    change.dstMac = given(args.dstMac);
    change.srcIp = given(args.srcIp);
    change.dstIp = given(args.dstIp);
    change.srcPort = given(args.srcPort);
    change.dstPort = given(args.dstPort);
    change.macMode = given(args.macMode);
    change.ipMode = given(args.ipMode);
    change.portMode = given(args.portMode);
    return change;
}

int setFilter(const CommandLine& line, NettlebeamApiDeviceHandle handle) {
    NettlebeamApiPacketFilter filter{};
    if (!readFilter(line, handle, filter)) return kFailure;
    if (const auto refused = applyHeaderFilterChange(filter, changeOf(line.args))) {
        std::fputs("Failed to set Nettlebeam packet filter\n", line.out);
        std::fprintf(line.err, "beamctl: %s\n", refused->c_str());
        return kFailure;
    }
    if (const std::int32_t status = NettlebeamAPISetPacketFilter(handle, filter); status != 0) {
        std::fputs("Failed to set Nettlebeam packet filter\n", line.out);
        explainFailure(line.err, handle, status);
        return kFailure;
    }
    if (present(line.args.save)) {
        if (const std::int32_t status = NettlebeamAPISavePacketFilter(handle); status != 0) {
            std::fputs("Failed to save Nettlebeam packet filter\n", line.out);
            explainFailure(line.err, handle, status);
            return kFailure;
        }
    }
    return 0;
}

int showFilter(const CommandLine& line, NettlebeamApiDeviceHandle handle, bool json) {
    NettlebeamApiPacketFilter filter{};
    if (!readFilter(line, handle, filter)) return kFailure;
    if (json) {
        std::fprintf(line.out, "%s\n", headerFilterJson(filter).c_str());
    } else {
        std::fputs(headerFilterReport(filter).c_str(), line.out);
    }
    return 0;
}

}  // namespace

int runHeaderFilter(const CommandLine& line) {
    Arguments& args = line.args;
    if (line.argc < 4 || !parses(args.headerTable, 2, line.argv + 2)) {
        return printUsage(line.out, "beamctl filter header", args.headerTable);
    }
    const bool set = sameWord(line.argv[3], "set");
    ArgTable& table = set ? args.headerSetTable : args.deviceJsonTable;
    const char* heading = set ? "beamctl filter header set" : "beamctl filter header show";
    if (line.help || !parses(table, line.argc - 3, line.argv + 3)) {
        return printUsage(line.out, heading, table);
    }
    const bool json = !set && present(args.json);
    const auto handle = startDeviceCommand(line, args.device, !json);
    if (!handle) return kFailure;
    const LibrarySession session;
    if (!hasHeaderFilter(line, *handle)) return kFailure;
    if (set) return setFilter(line, *handle);
    return showFilter(line, *handle, json);
}

}  // namespace beamctl
