#include "progress_report.h"

#include <unistd.h>

#include <algorithm>
#include <string>

namespace beamctl {
namespace {

constexpr int kBarWidth = 40;

}  // namespace

ProgressReport::ProgressReport(std::FILE* out)
    : ProgressReport(out, ::isatty(::fileno(out)) == 1) {}

void ProgressReport::show(int percent) {
    // The value comes from the library: a wrong one must not bend the bar.
    percent = std::clamp(percent, 0, 100);
    if (percent == last_) return;
    last_ = percent;
    if (terminal_) {
        const int filled = percent * kBarWidth / 100;
        std::fprintf(out_, "\r[%s%s] %3d%%", std::string(filled, '#').c_str(),
                     std::string(kBarWidth - filled, ' ').c_str(), percent);
    } else {
        std::fprintf(out_, "%d%%\n", percent);
    }
    std::fflush(out_);
}

void ProgressReport::finish() {
    if (terminal_ && last_ >= 0) std::fputc('\n', out_);
}

}  // namespace beamctl
