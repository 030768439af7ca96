// The direct-capture configuration that `directcapture start` sends.
#pragma once

#include <NettlebeamAPI.h>

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

// Widens each byte of `name` to one UTF-16 unit (plain ASCII converts
// faithfully; other bytes are taken as Latin-1).
std::u16string widenName(const char* name);

// `fileName` must outlive every use of the returned record. Megabyte counts
// are converted in 64 bits, so 2048 MB and more stay exact.
NettlebeamApiDiskDumpConfig makeCaptureConfig(const CaptureOptions& options,
                                              const std::u16string& fileName);

}  // namespace beamctl
