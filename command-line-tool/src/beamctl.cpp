#include "beamctl.h"

#include <strings.h>

#include <vector>

#include "commands.h"
#include "usage.h"

namespace beamctl {

bool sameWord(const char* word, const char* expected) {
    return strcasecmp(word, expected) == 0;
}

namespace {

int dispatch(const CommandLine& line) {
    const char* command = line.argv[1];
    if (sameWord(command, "directcapture")) return runDirectCapture(line);
    if (sameWord(command, "list")) return runList(line);
    if (sameWord(command, "dpi")) return runDpi(line);
    if (sameWord(command, "features")) return runFeatures(line);
    if (sameWord(command, "gps")) return runGps(line);
    if (sameWord(command, "statistics")) return runStatistics(line);
    std::fputs("beamctl : You must specify a valid command\n", line.out);
    return kFailure;
}

}  // namespace

int run(int argc, char** argv, std::FILE* out) {
    Arguments args;
    if (!args.complete()) {
        std::fputs("beamctl : out of memory\n", out);
        return kFailure;
    }
    if (argc < 2) {
        std::fputs("beamctl : You must specify a command. Type 'beamctl help' for details\n", out);
        return kFailure;
    }
    // The parser reorders the words it is given; work on a copy.
    std::vector<char*> words(argv, argv + argc);
    bool help = false;
    if (sameWord(words[1], "help")) {
        if (words.size() == 2) return printUsage(out, "beamctl", args.mainTable);
        help = true;
        words.erase(words.begin() + 1);
    }
    words.push_back(nullptr);
    const int wordCount = static_cast<int>(words.size()) - 1;
    if (!parses(args.mainTable, 2, words.data())) {
        return printUsage(out, "beamctl", args.mainTable);
    }
    return dispatch(CommandLine{out, args, wordCount, words.data(), help});
}

}  // namespace beamctl

int beamctlMain(int argc, char** argv) {
    const int status = beamctl::run(argc, argv, stdout);
    std::fflush(stdout);
    return status;
}
