// beamctl's whole run: parse the command line, run one command, return the
// exit status. `main` only forwards to it; everything goes to standard output.
#pragma once

#include <cstdio>

namespace beamctl {
int run(int argc, char** argv, std::FILE* out);
}

int beamctlMain(int argc, char** argv);
