#include "control_socket.h"

#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace nettlebeam::driver {

namespace {

bool fillAddress(const std::string& path, sockaddr_un& address) {
    address = {};
    address.sun_family = AF_UNIX;
    if (path.empty() || path.size() >= sizeof(address.sun_path)) return false;
    std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
    return true;
}

// mkdir -p, the last level with mode 0700; existing folders are left alone.
bool makeFolders(const std::string& folder, std::string& error) {
    if (folder.empty()) return true;
    struct stat info {};
    if (stat(folder.c_str(), &info) == 0) {
        if (S_ISDIR(info.st_mode)) return true;
        error = folder + " is not a folder";
        return false;
    }
    size_t slash = folder.find_last_of('/');
    if (slash != std::string::npos && slash > 0 && !makeFolders(folder.substr(0, slash), error))
        return false;
    if (mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST) {
        error = "cannot create " + folder + ": " + std::strerror(errno);
        return false;
    }
    return true;
}

std::string folderOf(const std::string& path) {
    size_t slash = path.find_last_of('/');
    if (slash == std::string::npos) return "";
    return path.substr(0, slash == 0 ? 1 : slash);
}

}  // namespace

bool somebodyListens(const std::string& path) {
    sockaddr_un address;
    if (!fillAddress(path, address)) return false;
    int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return false;
    bool listening = connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof(address)) == 0;
    close(fd);
    return listening;
}

int listenOnControlPath(const std::string& path, std::string& error) {
    sockaddr_un address;
    if (!fillAddress(path, address)) {
        error = "the control path '" + path + "' is empty or too long for a socket";
        return -1;
    }
    if (!makeFolders(folderOf(path), error)) return -1;
    struct stat info {};
    if (lstat(path.c_str(), &info) == 0) {
        if (!S_ISSOCK(info.st_mode)) {
            error = path + " exists and is not a socket";
            return -1;
        }
        if (somebodyListens(path)) {
            error = "another nettlebeamd already serves " + path;
            return -1;
        }
        unlink(path.c_str());  // stale: its daemon is gone
    }
    int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        error = std::string("cannot create a socket: ") + std::strerror(errno);
        return -1;
    }
    // No moment in which the socket is reachable with wider permissions.
    mode_t previous = umask(0177);
    int bound = bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof(address));
    int bindErrno = errno;
    umask(previous);
    if (bound != 0) {
        error = "cannot bind " + path + ": " + std::strerror(bindErrno);
        close(fd);
        return -1;
    }
    chmod(path.c_str(), 0600);
    if (listen(fd, SOMAXCONN) != 0) {
        error = "cannot listen on " + path + ": " + std::strerror(errno);
        close(fd);
        unlink(path.c_str());
        return -1;
    }
    return fd;
}

}  // namespace nettlebeam::driver
