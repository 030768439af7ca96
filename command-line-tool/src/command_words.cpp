#include <strings.h>

#include "command_table.h"

namespace beamctl {

const Command* findCommand(std::span<const Command> commands, const char* word) {
    for (const Command& command : commands) {
        if (strcasecmp(word, command.word) == 0) return &command;
    }
    return nullptr;
}

std::string commandPattern(std::span<const Command> commands) {
    std::string pattern = "^(";
    for (const Command& command : commands) {
        if (pattern.size() > 2) pattern += '|';
        pattern += command.word;
    }
    return pattern + ")$";
}

std::string commandPlaceholder(std::span<const Command> commands) {
    std::string placeholder = "<help";
    for (const Command& command : commands) {
        if (command.inMainUsage) placeholder += std::string("|") + command.word;
    }
    return placeholder + ">";
}

}  // namespace beamctl
