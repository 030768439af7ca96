// Where the control device of the driver lives on this host.
#pragma once

#include <string>

namespace nettlebeam::wire {

// The control socket: $NETTLEBEAM_CONTROL when set and not empty, else
// $XDG_RUNTIME_DIR/nettlebeam/KV7Control, else /tmp/nettlebeam-<uid>/KV7Control.
// The driver and every client compute it here so they always agree.
std::string controlPath();

}  // namespace nettlebeam::wire
