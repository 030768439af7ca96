// Whether a nettlebeamd listens on the control path the library uses.
#pragma once

#include <string>

namespace beamctl {

// The control socket the library talks to (same rules as the library).
std::string controlSocketPath();

// True when something accepts a connection on `path`. Only asked once no
// device was found, to tell an empty daemon from a missing one.
bool daemonAnswers(const std::string& path);

}  // namespace beamctl
