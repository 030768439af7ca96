#include "control_folders.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <vector>

#include "control_trust.h"

namespace nettlebeam::driver {

namespace {

std::string parentOf(const std::string& path) {
    const size_t slash = path.find_last_of('/');
    if (slash == std::string::npos) return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

// Which folders are checked, for the messages: "control folder", "state folder".
struct Checked {
    const char* noun;
    std::string refusal(const std::string& folder, const std::string& why) const {
        return "refusing the " + std::string(noun) + " " + folder + ": " + why;
    }
};

// lstat with the reason on failure; `missing` tells a folder that is not there.
bool examine(const Checked& kind, const std::string& folder, struct stat& info, bool& missing,
             std::string& error) {
    missing = false;
    if (lstat(folder.c_str(), &info) == 0) return true;
    missing = errno == ENOENT;
    error =
        "cannot examine the " + std::string(kind.noun) + " " + folder + ": " + std::strerror(errno);
    return false;
}

// `start`, or with `walkUp` the deepest folder of it that exists.
bool findExisting(const Checked& kind, const std::string& start, bool walkUp, std::string& existing,
                  struct stat& info, std::string& error) {
    existing = start;
    bool missing = false;
    while (!examine(kind, existing, info, missing, error)) {
        if (!missing || !walkUp || existing == "/" || existing == ".") return false;
        existing = parentOf(existing);
    }
    return true;
}

// Creates the folders from below `chosen` down to `deepest` (mode 0700);
// each, made here or found in the moment before, must be private.
bool createBelow(const Checked& kind, const std::string& chosen, const std::string& deepest,
                 std::string& error) {
    std::vector<std::string> own;
    for (std::string folder = deepest; folder != chosen && folder.size() > chosen.size();
         folder = parentOf(folder))
        own.push_back(folder);
    std::reverse(own.begin(), own.end());
    for (const std::string& folder : own) {
        if (mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST) {
            error = "cannot create the " + std::string(kind.noun) + " " + folder + ": " +
                    std::strerror(errno);
            return false;
        }
        struct stat info {};
        bool missing = false;
        if (!examine(kind, folder, info, missing, error)) return false;
        if (std::string why = wire::untrustedPrivateFolder(info, geteuid()); !why.empty()) {
            error = kind.refusal(folder, why);
            return false;
        }
    }
    return true;
}

}  // namespace

std::string normalFolderPath(const std::string& path) {
    std::string out;
    for (char c : path)
        if (c != '/' || out.empty() || out.back() != '/') out += c;
    if (out.size() > 1 && out.back() == '/') out.pop_back();
    return out;
}

bool prepareControlFolders(const wire::ControlLayout& layout, std::string& error) {
    const Checked kind{"control folder"};
    const std::string socketFolder = parentOf(normalFolderPath(layout.socket));
    const std::string privateFolder = normalFolderPath(layout.privateFolder);
    const bool fullPath = privateFolder.empty();
    std::string chosen;
    struct stat info {};
    if (!findExisting(kind, fullPath ? socketFolder : parentOf(privateFolder), fullPath, chosen,
                      info, error))
        return false;
    if (std::string why = wire::untrustedChosenFolder(info, geteuid()); !why.empty()) {
        error = kind.refusal(chosen, why);
        return false;
    }
    // The driver's own folders, from the socket's up to the chosen place.
    return createBelow(kind, chosen, socketFolder, error);
}

bool prepareStateFolder(const std::string& folder, std::string& error) {
    const Checked kind{"state folder"};
    const std::string state = normalFolderPath(folder);
    std::string existing;
    struct stat info {};
    if (!findExisting(kind, state, true, existing, info, error)) return false;
    const std::string why = existing == state ? wire::untrustedDataFolder(info, geteuid())
                                              : wire::untrustedChosenFolder(info, geteuid());
    if (!why.empty()) {
        error = kind.refusal(existing, why);
        return false;
    }
    return createBelow(kind, existing, state, error);
}

}  // namespace nettlebeam::driver
