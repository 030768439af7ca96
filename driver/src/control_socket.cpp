#include "control_socket.h"

#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "control_folders.h"

namespace nettlebeam::driver {

namespace {

bool fillAddress(const std::string& path, sockaddr_un& address) {
    address = {};
    address.sun_family = AF_UNIX;
    if (path.empty() || path.size() >= sizeof(address.sun_path)) return false;
    std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
    return true;
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

int listenOnControlPath(const wire::ControlLayout& layout, std::string& error) {
    const std::string& path = layout.socket;
    sockaddr_un address;
    if (!fillAddress(path, address)) {
        error = "the control path '" + path + "' is empty or too long for a socket";
        return -1;
    }
    if (!prepareControlFolders(layout, error)) return -1;
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
    // The socket file takes its mode from the socket's own and the umask at
    // bind: it is never reachable with wider permissions, and nothing is
    // changed by path (a name swapped for a link would redirect that).
    if (fchmod(fd, 0600) != 0) {
        error = std::string("cannot set the socket's mode: ") + std::strerror(errno);
        close(fd);
        return -1;
    }
    mode_t previous = umask(0177);
    int bound = bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof(address));
    int bindErrno = errno;
    umask(previous);
    if (bound != 0) {
        error = "cannot bind " + path + ": " + std::strerror(bindErrno);
        close(fd);
        return -1;
    }
    if (listen(fd, SOMAXCONN) != 0) {
        error = "cannot listen on " + path + ": " + std::strerror(errno);
        close(fd);
        unlink(path.c_str());
        return -1;
    }
    return fd;
}

}  // namespace nettlebeam::driver
