// `nettlebeamd serve`: the daemon itself.
#pragma once

#include <string>
#include <vector>

#include "control_path.h"

namespace nettlebeam::driver {

int serveCommand(const wire::ControlLayout& control, const std::vector<std::string>& args);

}  // namespace nettlebeam::driver
