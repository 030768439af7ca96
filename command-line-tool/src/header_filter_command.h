// `filter header show|set`, reached through `filter`.
#pragma once

#include "command_line.h"

namespace beamctl {

// argv[2] is "header"; returns the run's exit status.
int runHeaderFilter(const CommandLine& line);

}  // namespace beamctl
