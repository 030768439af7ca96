#include <NettlebeamAPI.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <optional>
#include <string>
#include <vector>

#include "command_line.h"
#include "device_session.h"
#include "firmware_check.h"
#include "progress_report.h"
#include "text.h"
#include "usage.h"
#include "utf16.h"

namespace beamctl {
namespace {

// As the library: far above two images, low enough to hold in memory.
constexpr off_t kMaxFileBytes = off_t{128} << 20;
constexpr std::uint32_t kProgressPollMs = 200;

const char* const kFailed = "Failed to update Nettlebeam firmware\n";

int refuse(const CommandLine& line, const std::string& reason) {
    std::fputs(kFailed, line.out);
    std::fprintf(line.err, "beamctl: %s\n", reason.c_str());
    return kFailure;
}

// The whole file, or why it cannot be an image: checked before any device
// is asked, and read here so the checks see what the library will send.
std::optional<std::vector<std::uint8_t>> readImageFile(const std::string& path, std::string& why) {
    struct stat info {};
    if (::stat(path.c_str(), &info) != 0) {
        why = format("cannot read %s: %s", path.c_str(), std::strerror(errno));
        return std::nullopt;
    }
    if (!S_ISREG(info.st_mode)) {
        why = format("%s is not a regular file", path.c_str());
        return std::nullopt;
    }
    if (info.st_size > kMaxFileBytes) {
        why = format("%s is larger than any firmware image (128 MiB)", path.c_str());
        return std::nullopt;
    }
    std::ifstream file(path, std::ios::binary);
    if (!file.is_open()) {
        why = format("cannot read %s: %s", path.c_str(), std::strerror(errno));
        return std::nullopt;
    }
    std::vector<std::uint8_t> bytes((std::istreambuf_iterator<char>(file)),
                                    std::istreambuf_iterator<char>());
    if (!file.good() && !file.eof()) {
        why = format("cannot read %s", path.c_str());
        return std::nullopt;
    }
    return bytes;
}

int update(const CommandLine& line, NettlebeamApiDeviceHandle handle, const std::u16string& path,
           const std::vector<std::uint8_t>& file, bool force) {
    NettlebeamApiDeviceType type = 0;
    if (const std::int32_t status = NettlebeamAPIGetDeviceType(handle, &type); status != 0) {
        std::fputs("Failed to get device type\n", line.out);
        explainFailure(line.err, handle, status);
        return kFailure;
    }
    if ((NettlebeamAPIGetDeviceCapabilities(type) & CapFirmwareUpdate) == 0) {
        return refuse(line, "this model cannot be updated");
    }
    NettlebeamApiVersions versions{};
    if (const std::int32_t status = NettlebeamAPIGetVersions(handle, &versions); status != 0) {
        std::fputs(kFailed, line.out);
        explainFailure(line.err, handle, status);
        return kFailure;
    }
    const FirmwareVersions from = firmwareVersionsOf(versions);
    const FirmwarePlan plan = planFirmwareUpdate(file, type, from, force);
    if (plan.refusal) return refuse(line, *plan.refusal);
    std::fprintf(line.out, "Firmware : %s to %s\n", firmwareVersionsText(from).c_str(),
                 plan.to ? firmwareVersionsText(*plan.to).c_str()
                         : "versions the file does not "
                           "announce");
    if (const std::int32_t status = NettlebeamAPIFirmwareUpdateStart(handle, path.c_str());
        status != 0) {
        std::fputs(kFailed, line.out);
        explainFailure(line.err, handle, status);
        return kFailure;
    }
    ProgressReport report(line.out);
    std::int32_t status = NETTLEBEAM_STATUS_UPDATE_IN_PROGRESS;
    for (;;) {
        std::int32_t progress = 0;
        status = NettlebeamAPIFirmwareUpdateGetProgress(handle, &progress);
        if (status == NETTLEBEAM_STATUS_UPDATE_IN_PROGRESS || status == NETTLEBEAM_STATUS_SUCCESS) {
            report.show(progress);
        }
        if (status != NETTLEBEAM_STATUS_UPDATE_IN_PROGRESS) break;
        NettlebeamApiSleepMs(kProgressPollMs);
    }
    report.finish();
    if (status != NETTLEBEAM_STATUS_SUCCESS) {
        std::fputs(kFailed, line.out);
        explainFailure(line.err, handle, status);
        return kFailure;
    }
    std::fputs("Firmware update done: the device runs it from its next restart\n", line.out);
    return 0;
}

}  // namespace

int runFirmware(const CommandLine& line) {
    Arguments& args = line.args;
    if (line.argc < 3 || !parses(args.firmwareTable, 2, line.argv + 1)) {
        return printUsage(line.out, "beamctl firmware", args.firmwareTable);
    }
    if (line.help || !parses(args.firmwareUpdateTable, line.argc - 2, line.argv + 2)) {
        return printUsage(line.out, "beamctl firmware update", args.firmwareUpdateTable);
    }
    // The file and its name are checked before any device is asked.
    const std::string path = args.firmwareFile->filename[0];
    const std::optional<std::u16string> widePath = utf16FromUtf8(path.c_str());
    if (!widePath) return refuse(line, "the file name is not UTF-8, which the library takes");
    std::string why;
    const auto file = readImageFile(path, why);
    if (!file) return refuse(line, why);
    const auto handle = startDeviceCommand(line, args.device);
    if (!handle) return kFailure;
    const LibrarySession session;
    return update(line, *handle, *widePath, *file, present(args.force));
}

}  // namespace beamctl
