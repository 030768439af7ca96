// `nettlebeamd serve`: the daemon itself.
#pragma once

#include <string>
#include <vector>

namespace nettlebeam::driver {

int serveCommand(const std::string& controlPath, const std::vector<std::string>& args);

}  // namespace nettlebeam::driver
