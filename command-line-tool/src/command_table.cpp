#include "command_table.h"

#include <array>

#include "command_line.h"

namespace beamctl {

// Each defined in the command's own file.
int runDirectCapture(const CommandLine& line);
int runList(const CommandLine& line);
int runDpi(const CommandLine& line);
int runFeatures(const CommandLine& line);
int runGps(const CommandLine& line);
int runStatistics(const CommandLine& line);
int runPorts(const CommandLine& line);
int runCounters(const CommandLine& line);
int runTime(const CommandLine& line);
int runFilter(const CommandLine& line);
int runFirmware(const CommandLine& line);

namespace {

constexpr std::array kCommands = {
    Command{"directcapture", runDirectCapture, true},
    Command{"list", runList, true},
    Command{"dpi", runDpi, true},
    Command{"features", runFeatures, true},
    Command{"gps", runGps, true},
    Command{"statistics", runStatistics, true},
    Command{"ports", runPorts, false},
    Command{"counters", runCounters, false},
    Command{"time", runTime, false},
    Command{"filter", runFilter, false},
    Command{"firmware", runFirmware, false},
};

}  // namespace

std::span<const Command> commandTable() {
    return kCommands;
}

}  // namespace beamctl
