// The listening end of the control socket.
#pragma once

#include <string>

#include "control_path.h"

namespace nettlebeam::driver {

// Prepares and checks the socket's folders (control_folders.h), refuses
// when another daemon answers on the path, removes a stale socket file, and
// listens with mode 0600. Returns the non-blocking listening descriptor, or
// -1 with a one-line reason in `error`.
int listenOnControlPath(const wire::ControlLayout& layout, std::string& error);

// True when something accepts connections on the path.
bool somebodyListens(const std::string& path);

}  // namespace nettlebeam::driver
