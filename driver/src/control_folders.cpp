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

std::string refusal(const std::string& folder, const std::string& why) {
    return "refusing the control folder " + folder + ": " + why;
}

// lstat with the reason on failure; `missing` tells a folder that is not there.
bool examine(const std::string& folder, struct stat& info, bool& missing, std::string& error) {
    missing = false;
    if (lstat(folder.c_str(), &info) == 0) return true;
    missing = errno == ENOENT;
    error = "cannot examine the control folder " + folder + ": " + std::strerror(errno);
    return false;
}

// The user's place: the given folder, or for a path given in full the
// deepest folder of it that exists.
bool findChosenFolder(const std::string& start, bool walkUp, std::string& chosen,
                      std::string& error) {
    chosen = start;
    struct stat info {};
    bool missing = false;
    while (!examine(chosen, info, missing, error)) {
        if (!missing || !walkUp || chosen == "/" || chosen == ".") return false;
        chosen = parentOf(chosen);
    }
    if (std::string why = wire::untrustedChosenFolder(info, geteuid()); !why.empty()) {
        error = refusal(chosen, why);
        return false;
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
    const std::string socketFolder = parentOf(normalFolderPath(layout.socket));
    const std::string privateFolder = normalFolderPath(layout.privateFolder);
    const bool fullPath = privateFolder.empty();
    std::string chosen;
    if (!findChosenFolder(fullPath ? socketFolder : parentOf(privateFolder), fullPath, chosen,
                          error))
        return false;
    // The driver's own folders, from the socket's up to the chosen place.
    std::vector<std::string> own;
    for (std::string folder = socketFolder; folder != chosen && folder.size() > chosen.size();
         folder = parentOf(folder))
        own.push_back(folder);
    std::reverse(own.begin(), own.end());
    for (const std::string& folder : own) {
        if (mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST) {
            error = "cannot create the control folder " + folder + ": " + std::strerror(errno);
            return false;
        }
        struct stat info {};
        bool missing = false;
        if (!examine(folder, info, missing, error)) return false;
        if (std::string why = wire::untrustedPrivateFolder(info, geteuid()); !why.empty()) {
            error = refusal(folder, why);
            return false;
        }
    }
    return true;
}

}  // namespace nettlebeam::driver
