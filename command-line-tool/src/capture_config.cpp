#include "capture_config.h"

#include <cstdint>

#include "utf16.h"

namespace beamctl {
namespace {

std::uint64_t megabytesToBytes(int megabytes) {
    return static_cast<std::uint64_t>(megabytes) << 20;
}

}  // namespace

std::optional<std::u16string> captureNameFromUtf8(const char* name) {
    return utf16FromUtf8(name);
}

NettlebeamApiDiskDumpConfig makeCaptureConfig(const CaptureOptions& options,
                                              const std::u16string& fileName) {
    NettlebeamApiDiskDumpConfig config{};
    config.loop = options.loop ? 1 : 0;
    config.extraOption = 0;
    config.mode = 0;  // capture to files
    config.fileName = fileName.c_str();
    config.fileSize = megabytesToBytes(options.sizeMegabytes);
    config.maxCache = megabytesToBytes(options.maxCacheMegabytes);
    config.fileCount = options.count;
    config.fileDuration = options.fileDuration;
    config.fullFrames = options.fullFrames ? 1 : 0;
    return config;
}

}  // namespace beamctl
