// beamctl's whole run: parse the command line, run one command, return the
// exit status. `main` only forwards to it. Reports go to `out`; the reasons
// behind a failure go to `err` as one extra line each.
#pragma once

#include <cstdio>

namespace beamctl {
int run(int argc, char** argv, std::FILE* out, std::FILE* err);
inline int run(int argc, char** argv, std::FILE* out) {
    return run(argc, argv, out, out);
}
}  // namespace beamctl

int beamctlMain(int argc, char** argv);
