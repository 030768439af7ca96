// Whether a driver serves the control socket, asked without a request: the
// library's device list is empty both when no device is attached and when no
// driver runs, and only the second is nettlebeam_up 0.
#pragma once

#include <string>

namespace nettlebeam::exporter {

// The control socket the library uses: $NETTLEBEAM_CONTROL, else
// $XDG_RUNTIME_DIR/nettlebeam/KV7Control, else /tmp/nettlebeam-<uid>/KV7Control.
std::string controlSocketPath();
// True when something accepts a connection on `path`.
bool driverAnswers(const std::string& path);

}  // namespace nettlebeam::exporter
