// Where the control device of the driver lives on this host.
#pragma once

#include <string>

namespace nettlebeam::wire {

// The control socket: $NETTLEBEAM_CONTROL when set and not empty, else
// $XDG_RUNTIME_DIR/nettlebeam/KV7Control, else /tmp/nettlebeam-<uid>/KV7Control.
// The driver and every client compute it here so they always agree.
std::string controlPath();

// The control path as the driver prepares it. `privateFolder` is the
// driver's own folder on the default paths ($XDG_RUNTIME_DIR/nettlebeam or
// /tmp/nettlebeam-<uid>): its parent is the place the user or the system
// chose, and it and everything below it must be the driver's alone, even
// when somebody else created it first. Empty for a path given in full
// ($NETTLEBEAM_CONTROL or --control), where only the folders the driver
// creates itself are its own.
struct ControlLayout {
    std::string socket;
    std::string privateFolder;
};

ControlLayout controlLayout();
ControlLayout explicitControlLayout(const std::string& socket);

}  // namespace nettlebeam::wire
