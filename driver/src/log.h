// One line per notable event on standard error.
#pragma once

#include <string>

namespace nettlebeam::driver {

void logLine(const std::string& message);

}  // namespace nettlebeam::driver
