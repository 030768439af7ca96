// The direct-capture configuration that `directcapture start` sends.
#pragma once

#include <NettlebeamAPI.h>

#include <optional>
#include <string>

namespace beamctl {

struct CaptureOptions {
    bool loop = false;
    int count = 1;
    int sizeMegabytes = 0;
    int maxCacheMegabytes = 100;
    int fileDuration = 0;
    bool fullFrames = false;
};

// The UTF-16 form of a capture name given in UTF-8, the encoding of file
// names here (the library turns the name back into UTF-8 for the driver).
// Nothing when `name` is not valid UTF-8 (see utf16.h).
std::optional<std::u16string> captureNameFromUtf8(const char* name);

// `fileName` must outlive every use of the returned record. Megabyte counts
// are converted in 64 bits, so 2048 MB and more stay exact.
NettlebeamApiDiskDumpConfig makeCaptureConfig(const CaptureOptions& options,
                                              const std::u16string& fileName);

}  // namespace beamctl
