// printf-style formatting into a string, so reports can be built and tested
// without a terminal.
#pragma once

#include <string>

namespace beamctl {

[[gnu::format(printf, 1, 2)]] std::string format(const char* pattern, ...);

}  // namespace beamctl
