#include <cstdio>
#include <optional>
#include <string>

#include "capture_config.h"
#include "command_line.h"
#include "device_session.h"
#include "reasons.h"
#include "reports.h"
#include "statistics_json.h"
#include "usage.h"

namespace beamctl {
namespace {

bool startOptionsValid(const Arguments& args) {
    return valueOf(args.count) >= 0 && valueOf(args.size) >= 0 && valueOf(args.maxcache) >= 0 &&
           valueOf(args.fileduration) >= 0;
}

CaptureOptions captureOptions(const Arguments& args) {
    CaptureOptions options;
    options.loop = present(args.loop);
    options.count = valueOf(args.count);
    options.sizeMegabytes = valueOf(args.size);
    options.maxCacheMegabytes = valueOf(args.maxcache);
    options.fileDuration = valueOf(args.fileduration);
    options.fullFrames = present(args.fullframes);
    return options;
}

int startCapture(const CommandLine& line) {
    Arguments& args = line.args;
    if (line.argc < 4 || line.help ||
        !parses(args.captureStartTable, line.argc - 2, line.argv + 2) || !startOptionsValid(args)) {
        return printUsage(line.out, "beamctl directcapture start", args.captureStartTable);
    }
    const std::optional<std::u16string> fileName = captureNameFromUtf8(args.name->filename[0]);
    if (!fileName)
        return printUsage(line.out, "beamctl directcapture start", args.captureStartTable);
    const auto handle = startDeviceCommand(line, args.device);
    if (!handle) return kFailure;
    const LibrarySession session;

    NettlebeamApiDiskDumpStatus status{};
    if (const std::int32_t result = NettlebeamAPIDiskDumpGetStatus(*handle, &status); result != 0) {
        std::fputs("Failed: cannot get status\n\n", line.out);
        explainFailure(line.err, *handle, result);
        return kFailure;
    }
    if (status.enabled) {
        std::fputs("Failed: capture is already started\n", line.out);
        return kFailure;
    }
    // Checked before the device is asked: the driver only reports that the
    // start failed, not that the files had nowhere to go.
    if (const auto problem = captureFolderProblem(args.name->filename[0])) {
        std::fputs("Failed: cannot start capture\n", line.out);
        std::fprintf(line.err, "beamctl: %s\n", problem->c_str());
        return kFailure;
    }
    if (const std::int32_t result = NettlebeamAPIDiskDumpSetConfig(
            *handle, makeCaptureConfig(captureOptions(args), *fileName));
        result != 0) {
        std::fputs("Failed: cannot set configuration\n", line.out);
        explainFailure(line.err, *handle, result);
        return kFailure;
    }
    if (const std::int32_t result = NettlebeamAPIDiskDumpStart(*handle); result != 0) {
        std::fputs("Failed: cannot start capture\n", line.out);
        explainFailure(line.err, *handle, result);
        return kFailure;
    }
    std::fputs("Capture started\n", line.out);
    return 0;
}

int stopCapture(const CommandLine& line) {
    Arguments& args = line.args;
    if (line.help || !parses(args.deviceTable, line.argc - 2, line.argv + 2)) {
        return printUsage(line.out, "beamctl directcapture stop", args.deviceTable);
    }
    const auto handle = startDeviceCommand(line, args.device);
    if (!handle) return kFailure;
    const LibrarySession session;
    if (const std::int32_t result = NettlebeamAPIDiskDumpStop(*handle); result != 0) {
        std::fputs("Failed: cannot stop capture\n", line.out);
        explainFailure(line.err, *handle, result);
        return kFailure;
    }
    std::fputs("Capture stopped\n", line.out);
    return 0;
}

int captureStatus(const CommandLine& line) {
    Arguments& args = line.args;
    const bool json = hasWord(line, "--json");
    ArgTable& table = json ? args.deviceJsonTable : args.deviceTable;
    if (line.help || !parses(table, line.argc - 2, line.argv + 2)) {
        return printUsage(line.out, "beamctl directcapture status", table);
    }
    const auto handle = startDeviceCommand(line, args.device, !json);
    if (!handle) return kFailure;
    const LibrarySession session;
    NettlebeamApiDiskDumpStatus status{};
    if (const std::int32_t result = NettlebeamAPIDiskDumpGetStatus(*handle, &status); result != 0) {
        std::fputs("Failed: cannot get status\n", line.out);
        explainFailure(line.err, *handle, result);
        return kFailure;
    }
    if (json) {
        std::fprintf(line.out, "%s\n", captureJson(status).c_str());
    } else {
        std::fputs(captureStatusReport(status).c_str(), line.out);
    }
    return 0;
}

}  // namespace

int runDirectCapture(const CommandLine& line) {
    Arguments& args = line.args;
    if (line.argc < 3 || !parses(args.captureTable, 2, line.argv + 1)) {
        return printUsage(line.out, "beamctl directcapture", args.captureTable);
    }
    const char* action = line.argv[2];
    if (sameWord(action, "start")) return startCapture(line);
    if (sameWord(action, "stop")) return stopCapture(line);
    if (sameWord(action, "status")) return captureStatus(line);
    return printUsage(line.out, "beamctl directcapture", args.captureTable);
}

}  // namespace beamctl
