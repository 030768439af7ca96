#include <cstdio>

#include "command_line.h"
#include "device_session.h"
#include "dpi_input.h"
#include "reports.h"
#include "usage.h"

namespace beamctl {
namespace {

enum class DpiAction { Enable, Disable, Save, Show };

struct DpiActionInfo {
    const char* heading;
    bool needsOption;  // the action wants at least one word after it
};

DpiActionInfo infoOf(DpiAction action) {
    switch (action) {
        case DpiAction::Enable:
            return {"beamctl dpi enable", true};
        case DpiAction::Disable:
            return {"beamctl dpi disable", true};
        case DpiAction::Save:
            return {"beamctl dpi save", false};
        case DpiAction::Show:
            break;
    }
    return {"beamctl dpi show", false};
}

ArgTable& tableOf(Arguments& args, DpiAction action) {
    return action == DpiAction::Enable ? args.dpiEnableTable : args.deviceTable;
}

// The filter-capable check every dpi action makes before touching the device.
bool supportsFiltering(const CommandLine& line, NettlebeamApiDeviceHandle handle) {
    NettlebeamApiDeviceType type = 0;
    if (const std::int32_t status = NettlebeamAPIGetDeviceType(handle, &type); status != 0) {
        std::fputs("Failed to get device type\n", line.out);
        explainFailure(line.err, handle, status);
        return false;
    }
    if ((NettlebeamAPIGetDeviceCapabilities(type) & CapPacketFilter) == 0) {
        std::fputs("Your device does not support filtering\n", line.out);
        std::fputs("beamctl: this model has no packet filter\n", line.err);
        return false;
    }
    return true;
}

bool readFilter(const CommandLine& line, NettlebeamApiDeviceHandle handle,
                NettlebeamApiDpiFilter& filter) {
    const std::int32_t status = NettlebeamAPIGetDpiFilter(handle, &filter);
    if (status == 0) return true;
    std::fputs("Failed to get Nettlebeam DPI Filter configuration\n", line.out);
    explainFailure(line.err, handle, status);
    return false;
}

int writeFilter(const CommandLine& line, NettlebeamApiDeviceHandle handle,
                const NettlebeamApiDpiFilter& filter) {
    const std::int32_t status = NettlebeamAPISetDpiFilter(handle, filter);
    if (status == 0) return 0;
    std::fputs("Failed to set Nettlebeam DPI Filter configuration\n", line.out);
    explainFailure(line.err, handle, status);
    return kFailure;
}

// Applies --dpitxt or --dpihex and --dpimask; false when a value cannot be read.
bool applyEnableOptions(const Arguments& args, NettlebeamApiDpiFilter& filter) {
    if (present(args.dpitxt)) {
        applyTextPattern(args.dpitxt->sval[0], filter);
    } else if (present(args.dpihex) && !applyHexPattern(args.dpihex->sval[0], filter)) {
        return false;
    }
    if (present(args.dpimask)) {
        const std::optional<std::uint32_t> mask = parseMask(args.dpimask->sval[0]);
        if (!mask) return false;
        filter.mask = *mask;
    }
    return true;
}

int enableFilter(const CommandLine& line, NettlebeamApiDeviceHandle handle) {
    NettlebeamApiDpiFilter filter{};
    if (!readFilter(line, handle, filter)) return kFailure;
    filter.enabled = 1;
    if (!applyEnableOptions(line.args, filter)) {
        return printUsage(line.out, "beamctl dpi enable", line.args.dpiEnableTable);
    }
    return writeFilter(line, handle, filter);
}

int disableFilter(const CommandLine& line, NettlebeamApiDeviceHandle handle) {
    NettlebeamApiDpiFilter filter{};
    if (!readFilter(line, handle, filter)) return kFailure;
    filter.enabled = 0;
    return writeFilter(line, handle, filter);
}

int saveFilter(const CommandLine& line, NettlebeamApiDeviceHandle handle) {
    const std::int32_t status = NettlebeamAPISaveDpiFilter(handle);
    if (status == 0) return 0;
    std::fputs("Failed to save Nettlebeam DPI Filter configuration\n", line.out);
    explainFailure(line.err, handle, status);
    return kFailure;
}

int showFilter(const CommandLine& line, NettlebeamApiDeviceHandle handle) {
    NettlebeamApiDpiFilter filter{};
    if (!readFilter(line, handle, filter)) return kFailure;
    std::fputs(dpiFilterReport(filter).c_str(), line.out);
    return 0;
}

int runAction(const CommandLine& line, DpiAction action) {
    Arguments& args = line.args;
    const DpiActionInfo info = infoOf(action);
    ArgTable& table = tableOf(args, action);
    if ((info.needsOption && line.argc < 4) || line.help ||
        !parses(table, line.argc - 2, line.argv + 2)) {
        return printUsage(line.out, info.heading, table);
    }
    const auto handle = startDeviceCommand(line, args.device);
    if (!handle) return kFailure;
    const LibrarySession session;
    if (!supportsFiltering(line, *handle)) return kFailure;
    switch (action) {
        case DpiAction::Enable:
            return enableFilter(line, *handle);
        case DpiAction::Disable:
            return disableFilter(line, *handle);
        case DpiAction::Save:
            return saveFilter(line, *handle);
        case DpiAction::Show:
            break;
    }
    return showFilter(line, *handle);
}

}  // namespace

int runDpi(const CommandLine& line) {
    Arguments& args = line.args;
    if (line.argc < 3 || !parses(args.dpiTable, 2, line.argv + 1)) {
        return printUsage(line.out, "beamctl dpi", args.dpiTable);
    }
    const char* action = line.argv[2];
    if (sameWord(action, "enable")) return runAction(line, DpiAction::Enable);
    if (sameWord(action, "disable")) return runAction(line, DpiAction::Disable);
    if (sameWord(action, "save")) return runAction(line, DpiAction::Save);
    if (sameWord(action, "show")) return runAction(line, DpiAction::Show);
    return printUsage(line.out, "beamctl dpi", args.dpiTable);
}

}  // namespace beamctl
