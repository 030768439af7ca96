#include "capture_config.h"

#include <cstdint>

namespace beamctl {
namespace {

std::uint64_t megabytesToBytes(int megabytes) {
    return static_cast<std::uint64_t>(megabytes) << 20;
}

}  // namespace

std::u16string widenName(const char* name) {
    std::u16string wide;
    for (const char* byte = name; *byte != '\0'; ++byte) {
        wide.push_back(static_cast<char16_t>(static_cast<unsigned char>(*byte)));
    }
    return wide;
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
