#include <cstdio>
#include <string>

#include "command_line.h"
#include "device_session.h"
#include "ports_edit.h"
#include "usage.h"

namespace beamctl {
namespace {

// The record is cleared first: the library only sets the flags it finds.
bool readPorts(const CommandLine& line, NettlebeamApiDeviceHandle handle,
               NettlebeamApiPortsSpeed& speeds) {
    speeds = NettlebeamApiPortsSpeed{};
    const std::int32_t status = NettlebeamAPIGetDevicePortsSpeed(handle, &speeds);
    if (status == 0) return true;
    std::fputs("Failed to get Nettlebeam port speeds\n", line.out);
    explainFailure(line.err, handle, status);
    return false;
}

PortsChange portsChange(const Arguments& args) {
    PortsChange change;
    const std::string which = args.port->sval[0];
    change.portA = which.find_first_of("aA") != std::string::npos;
    change.portB = which.find_first_of("bB") != std::string::npos;
    if (args.autoneg->count > 0) {
        change.autoNegotiation = sameWord(args.autoneg->sval[0], "on");
    }
    if (args.modes->count > 0) change.modes = args.modes->sval[0];
    if (args.pause->count > 0) change.pause = args.pause->sval[0];
    if (args.role->count > 0) change.role = args.role->sval[0];
    return change;
}

// Models without speed selection run their ports at a fixed advertisement.
bool selectsSpeeds(const CommandLine& line, NettlebeamApiDeviceHandle handle) {
    NettlebeamApiDeviceType type = 0;
    if (const std::int32_t status = NettlebeamAPIGetDeviceType(handle, &type); status != 0) {
        std::fputs("Failed to get device type\n", line.out);
        explainFailure(line.err, handle, status);
        return false;
    }
    if ((NettlebeamAPIGetDeviceCapabilities(type) & CapPortSpeedSelect) != 0) return true;
    std::fputs("Failed to set Nettlebeam port speeds\n", line.out);
    std::fputs("beamctl: this model does not let its port speeds be chosen\n", line.err);
    return false;
}

int setPorts(const CommandLine& line, NettlebeamApiDeviceHandle handle) {
    if (!selectsSpeeds(line, handle)) return kFailure;
    NettlebeamApiPortsSpeed speeds{};
    if (!readPorts(line, handle, speeds)) return kFailure;
    if (const auto refused = applyPortsChange(speeds, portsChange(line.args))) {
        std::fputs("Failed to set Nettlebeam port speeds\n", line.out);
        std::fprintf(line.err, "beamctl: %s\n", refused->c_str());
        return kFailure;
    }
    if (const std::int32_t status = NettlebeamAPISetDevicePortsSpeed(handle, speeds); status != 0) {
        std::fputs("Failed to set Nettlebeam port speeds\n", line.out);
        explainFailure(line.err, handle, status);
        return kFailure;
    }
    if (present(line.args.save)) {
        // The advertisement lives in the features block, saved as a whole.
        if (const std::int32_t status = NettlebeamAPISaveDeviceFeatures(handle); status != 0) {
            std::fputs("Failed to save Nettlebeam port speeds\n", line.out);
            explainFailure(line.err, handle, status);
            return kFailure;
        }
    }
    return 0;
}

int showPorts(const CommandLine& line, NettlebeamApiDeviceHandle handle, bool json) {
    NettlebeamApiPortsSpeed speeds{};
    if (!readPorts(line, handle, speeds)) return kFailure;
    if (json) {
        std::fprintf(line.out, "%s\n", portsJson(speeds).c_str());
    } else {
        std::fputs(portsReport(speeds).c_str(), line.out);
    }
    return 0;
}

}  // namespace

int runPorts(const CommandLine& line) {
    Arguments& args = line.args;
    if (line.argc < 3 || !parses(args.portsTable, 2, line.argv + 1)) {
        return printUsage(line.out, "beamctl ports", args.portsTable);
    }
    const bool set = sameWord(line.argv[2], "set");
    ArgTable& table = set ? args.portsSetTable : args.deviceJsonTable;
    const char* heading = set ? "beamctl ports set" : "beamctl ports show";
    if (line.help || !parses(table, line.argc - 2, line.argv + 2)) {
        return printUsage(line.out, heading, table);
    }
    const bool json = !set && present(args.json);
    const auto handle = startDeviceCommand(line, args.device, !json);
    if (!handle) return kFailure;
    const LibrarySession session;
    if (set) return setPorts(line, *handle);
    return showPorts(line, *handle, json);
}

}  // namespace beamctl
