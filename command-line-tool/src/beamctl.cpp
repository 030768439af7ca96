#include "beamctl.h"

#include <NettlebeamAPI.h>
#include <strings.h>

#include <cstdint>
#include <cstring>
#include <vector>

#include "command_line.h"
#include "command_table.h"
#include "usage.h"

namespace beamctl {

bool sameWord(const char* word, const char* expected) {
    return strcasecmp(word, expected) == 0;
}

bool hasWord(const CommandLine& line, const char* word) {
    for (int i = 2; i < line.argc; ++i) {
        if (std::strcmp(line.argv[i], word) == 0) return true;
    }
    return false;
}

namespace {

int printVersion(std::FILE* out) {
    const std::uint32_t library = NettlebeamAPIGetVersion();
    // The library's first component sits in the lowest byte.
    std::fprintf(out, "beamctl %s\nNettlebeamAPI %u.%u.%u\n", BEAMCTL_VERSION, library & 0xFFu,
                 (library >> 8) & 0xFFu, (library >> 16) & 0xFFu);
    return 0;
}

// `--help` asks for the same usage as the `help` word, as a request that
// succeeds rather than a usage error.
bool takeHelpOption(std::vector<char*>& words) {
    for (auto word = words.begin() + 1; word != words.end(); ++word) {
        if (std::strcmp(*word, "--help") == 0) {
            words.erase(word);
            return true;
        }
    }
    return false;
}

int dispatch(const CommandLine& line) {
    if (const Command* command = findCommand(commandTable(), line.argv[1])) {
        return command->run(line);
    }
    std::fputs("beamctl : You must specify a valid command\n", line.out);
    return kFailure;
}

}  // namespace

int run(int argc, char** argv, std::FILE* out, std::FILE* err) {
    Arguments args;
    if (!args.complete()) {
        std::fputs("beamctl : out of memory\n", out);
        return kFailure;
    }
    if (argc < 2) {
        std::fputs("beamctl : You must specify a command. Type 'beamctl help' for details\n", out);
        return kFailure;
    }
    if (std::strcmp(argv[1], "--version") == 0) return printVersion(out);
    // The parser reorders the words it is given; work on a copy.
    std::vector<char*> words(argv, argv + argc);
    const bool helpOption = takeHelpOption(words);
    if (helpOption && words.size() == 1) {
        printUsage(out, "beamctl", args.mainTable);
        return 0;
    }
    bool help = helpOption;
    if (!help && sameWord(words[1], "help")) {
        if (words.size() == 2) return printUsage(out, "beamctl", args.mainTable);
        help = true;
        words.erase(words.begin() + 1);
    }
    words.push_back(nullptr);
    const int wordCount = static_cast<int>(words.size()) - 1;
    if (!parses(args.mainTable, 2, words.data())) {
        return printUsage(out, "beamctl", args.mainTable);
    }
    const int status = dispatch(CommandLine{out, err, args, wordCount, words.data(), help});
    // With the help flag every command prints its usage and runs nothing.
    return helpOption ? 0 : status;
}

}  // namespace beamctl

int beamctlMain(int argc, char** argv) {
    const int status = beamctl::run(argc, argv, stdout, stderr);
    std::fflush(stdout);
    std::fflush(stderr);
    return status;
}
