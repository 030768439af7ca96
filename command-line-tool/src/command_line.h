// The words of one run after the dispatcher has looked at them.
#pragma once

#include <cstdio>

#include "arguments.h"

namespace beamctl {

struct CommandLine {
    std::FILE* out;
    std::FILE* err;  // the reasons behind a failure, so `out` stays as scripts parse it
    Arguments& args;
    int argc;     // words including the program name, after a `help` was dropped
    char** argv;  // argv[0] is the program name, argv[1] the command word
    bool help;    // the run asked for the usage of the command it names
};

// True when one of the words after the command word is exactly `word`.
bool hasWord(const CommandLine& line, const char* word);

// Case-insensitive comparison of a command or action word.
bool sameWord(const char* word, const char* expected);

}  // namespace beamctl
