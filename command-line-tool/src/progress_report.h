// A progress percentage as it changes: on a terminal one bar redrawn in
// place, elsewhere (a pipe, a file) one "NN%" line per change, which a
// script can follow.
#pragma once

#include <cstdio>

namespace beamctl {

class ProgressReport {
  public:
    // A terminal is told from anything else by `out` itself.
    explicit ProgressReport(std::FILE* out);
    ProgressReport(std::FILE* out, bool terminal) : out_(out), terminal_(terminal) {}

    // Prints `percent` (kept within 0 to 100) when it differs from the last.
    void show(int percent);
    // Ends the bar's line on a terminal.
    void finish();

  private:
    std::FILE* out_;
    bool terminal_;
    int last_ = -1;
};

}  // namespace beamctl
