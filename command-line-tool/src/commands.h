// One function per command word; each returns the run's exit status.
#pragma once

#include "command_line.h"

namespace beamctl {

int runList(const CommandLine& line);
int runDirectCapture(const CommandLine& line);
int runDpi(const CommandLine& line);
int runFeatures(const CommandLine& line);
int runGps(const CommandLine& line);
int runStatistics(const CommandLine& line);
int runPorts(const CommandLine& line);
int runCounters(const CommandLine& line);
int runTime(const CommandLine& line);
int runFilter(const CommandLine& line);

}  // namespace beamctl
