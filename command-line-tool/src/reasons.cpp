#include "reasons.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "text.h"

namespace beamctl {

const char* statusMeaning(std::int32_t status) {
    switch (status) {
        case 0:
            return "success";
        case -1:
            return "the driver could not be reached, failed the request or sent an invalid reply";
        case -2:
            // The library also passes the driver's own failure on as -2.
            return "already done, or the driver failed the request";
        case -3:
            return "not found";
        case -4:
            return "unknown device handle";
        case -5:
            return "not supported by this device";
        case -6:
            return "direct capture error 1 reported by the driver";
        case -7:
            return "direct capture error 2 reported by the driver";
        case -8:
            return "direct capture error 8 reported by the driver";
        case -9:
            return "direct capture error 16 reported by the driver";
        case -10:
            return "buffer too small";
        case -12:
            return "a firmware update is already running";
        case -13:
            return "a firmware update is in progress";
        case -14:
            return "file unreadable";
        case -15:
            return "invalid value";
        case -16:
            return "no firmware update started";
        default:
            return "unknown status";
    }
}

std::string refusalReason(std::int32_t status) {
    return format("the device refused: status %d (%s)", static_cast<int>(status),
                  statusMeaning(status));
}

std::string noDaemonReason(const std::string& controlPath) {
    return "no nettlebeamd answers on " + controlPath +
           "; start one with `nettlebeamd serve` (or set NETTLEBEAM_CONTROL to its socket)";
}

std::optional<std::string> detachedValueHint(const std::vector<std::string>& words,
                                             const std::vector<std::string>& options) {
    for (std::size_t i = 0; i + 1 < words.size(); ++i) {
        for (const std::string& option : options) {
            if (words[i] != "--" + option) continue;
            const std::string& next = words[i + 1];
            if (next.empty() || next[0] == '-') continue;
            return "--" + option + " takes its value attached: use --" + option + "=" + next;
        }
    }
    return std::nullopt;
}

std::optional<std::string> captureFolderProblem(const std::string& baseName) {
    if (baseName.empty() || baseName[0] != '/') return std::nullopt;
    const std::string folder = baseName.substr(0, baseName.rfind('/'));
    const std::string shown = folder.empty() ? "/" : folder;
    struct stat info {};
    if (stat(shown.c_str(), &info) != 0) {
        return "the capture folder " + shown + " cannot be used: " + std::strerror(errno);
    }
    if (!S_ISDIR(info.st_mode)) return "the capture folder " + shown + " is not a folder";
    if (access(shown.c_str(), W_OK | X_OK) != 0) {
        return "the capture folder " + shown + " is not writable: " + std::strerror(errno);
    }
    return std::nullopt;
}

}  // namespace beamctl
