// The commands beamctl knows: one row per command word. Adding a command is
// its own file with a run function and one row in command_table.cpp; the
// parser's pattern and the main usage are built from the rows.
#pragma once

#include <span>
#include <string>

namespace beamctl {

struct CommandLine;

struct Command {
    const char* word;
    // Runs the command on a line whose command word is `word`; returns the
    // run's exit status.
    int (*run)(const CommandLine& line);
    // Named in the main usage's placeholder. The later commands are left out
    // so the main usage stays as scripts and manuals have quoted it.
    bool inMainUsage;
};

// Every command of the tool, in the order the main usage names them.
std::span<const Command> commandTable();

// The row whose word is `word` in any case, or null.
const Command* findCommand(std::span<const Command> commands, const char* word);

// A regular expression matching exactly one command word: anchored, since
// argtable2 accepts a pattern that matches anywhere in the word.
std::string commandPattern(std::span<const Command> commands);

// The main usage's placeholder: "<help|" and the words in the main usage.
std::string commandPlaceholder(std::span<const Command> commands);

}  // namespace beamctl
