#include <cstdio>

#include "command_line.h"
#include "device_session.h"
#include "usage.h"

namespace beamctl {
namespace {

constexpr std::int32_t kGpsReadSize = 128;
constexpr std::int32_t kNotSupported = -5;

// Passes the receiver's text through until a read fails.
int streamGpsOutput(std::FILE* out, NettlebeamApiDeviceHandle handle) {
    char buffer[kGpsReadSize + 1];
    for (;;) {
        std::int32_t length = 0;
        const std::int32_t result =
            NettlebeamAPIGPSOutputRead(handle, buffer, kGpsReadSize, &length);
        if (result == kNotSupported) {
            std::fputs("GPS output interface not supported\n", out);
            return kFailure;
        }
        if (result != 0) {
            std::fputs("Error while reading GPS output interface\n", out);
            return kFailure;
        }
        if (length <= 0) {
            NettlebeamApiSleepMs(1);
            continue;
        }
        // A count beyond what was asked for is not trusted past the buffer.
        if (length > kGpsReadSize) length = kGpsReadSize;
        buffer[length] = '\0';
        std::fputs(buffer, out);
        std::fflush(out);
    }
}

}  // namespace

int runGps(const CommandLine& line) {
    Arguments& args = line.args;
    if (line.argc < 3 || line.help || !parses(args.deviceTable, line.argc - 1, line.argv + 1)) {
        return printUsage(line.out, "beamctl gps", args.deviceTable);
    }
    const auto handle = startDeviceCommand(line, args.device);
    if (!handle) return kFailure;
    const LibrarySession session;
    NettlebeamAPIGPSOutputFlush(*handle);
    return streamGpsOutput(line.out, *handle);
}

}  // namespace beamctl
