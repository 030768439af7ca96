// The subcommands of the nettlebeamd executable.
#pragma once

#include <string>
#include <vector>

namespace nettlebeam::driver {

// Runs `nettlebeamd <args>` (args without the program name); returns the exit
// status. Errors are one line on standard error.
int runCommand(std::vector<std::string> args);

// The lines `request` prints: "result N", then the bytes in hex, 16 per line.
std::string formatRequestOutput(int32_t result, const std::vector<uint8_t>& bytes);

}  // namespace nettlebeam::driver
