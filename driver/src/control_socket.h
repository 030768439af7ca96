// The listening end of the control socket.
#pragma once

#include <string>

namespace nettlebeam::driver {

// Creates the socket's folder (0700, when missing), refuses when another
// daemon answers on the path, removes a stale socket file, and listens with
// mode 0600. Returns the non-blocking listening descriptor, or -1 with a
// one-line reason in `error`.
int listenOnControlPath(const std::string& path, std::string& error);

// True when something accepts connections on the path.
bool somebodyListens(const std::string& path);

}  // namespace nettlebeam::driver
