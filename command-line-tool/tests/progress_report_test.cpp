// The progress a firmware update prints: a line per change off a terminal,
// one bar redrawn on one, and values from the library kept in range.
#include "progress_report.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <string>

namespace beamctl {
namespace {

// What `report` printed, given each percent in turn.
std::string printed(bool terminal, std::initializer_list<int> percents) {
    char* text = nullptr;
    std::size_t size = 0;
    std::FILE* out = open_memstream(&text, &size);
    ProgressReport report(out, terminal);
    for (int percent : percents) report.show(percent);
    report.finish();
    std::fclose(out);
    std::string result(text, size);
    std::free(text);
    return result;
}

TEST(ProgressReport, PrintsEachChangeOnceAndKeepsTheLibrarysValueInRange) {
    EXPECT_EQ(printed(false, {0, 0, 5, 5, 30, 100}), "0%\n5%\n30%\n100%\n");
    EXPECT_EQ(printed(false, {-7, 250}), "0%\n100%\n");
    const std::string bar = printed(true, {-1, 50, 50, 101});
    EXPECT_EQ(bar, "\r[" + std::string(40, ' ') + "]   0%" + "\r[" + std::string(20, '#') +
                       std::string(20, ' ') + "]  50%" + "\r[" + std::string(40, '#') + "] 100%\n");
    EXPECT_EQ(printed(true, {}), "") << "no bar, no line to end";
}

}  // namespace
}  // namespace beamctl
