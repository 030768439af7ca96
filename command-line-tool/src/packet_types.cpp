#include "packet_types.h"

#include <strings.h>

#include <vector>

#include "json.h"
#include "text.h"

namespace beamctl {
namespace {

std::optional<std::size_t> classIndex(const std::string& name) {
    for (std::size_t i = 0; i < kPacketTypeNames.size(); ++i) {
        if (strcasecmp(name.c_str(), kPacketTypeNames[i]) == 0) return i;
    }
    return std::nullopt;
}

std::string knownNames() {
    std::string names;
    for (const char* name : kPacketTypeNames)
        names += (names.empty() ? "" : ", ") + std::string(name);
    return names;
}

// The classes a list names, or the refusal naming the first word that is not one.
std::optional<std::string> namedClasses(const char* option, const std::string& list,
                                        std::vector<std::size_t>& classes) {
    std::size_t start = 0;
    while (true) {
        const std::size_t comma = list.find(',', start);
        const std::string word = list.substr(start, comma - start);
        const auto index = classIndex(word);
        if (!index) {
            return std::string(option) + ": '" + word + "' is not a packet type (one of " +
                   knownNames() + ")";
        }
        classes.push_back(*index);
        if (comma == std::string::npos) return std::nullopt;
        start = comma + 1;
    }
}

}  // namespace

std::optional<std::string> applyPacketTypesChange(NettlebeamApiPacketsTypeFilter& filter,
                                                  const PacketTypesChange& change) {
    std::vector<std::size_t> enabled;
    std::vector<std::size_t> disabled;
    if (change.enable) {
        if (auto refused = namedClasses("--enable", *change.enable, enabled)) return refused;
    }
    if (change.disable) {
        if (auto refused = namedClasses("--disable", *change.disable, disabled)) return refused;
    }
    // Which of the two would win is a guess; a script that names a class in
    // both has a mistake worth reporting.
    for (const std::size_t on : enabled) {
        for (const std::size_t off : disabled) {
            if (on == off) {
                return std::string("'") + kPacketTypeNames[on] +
                       "' is named by both --enable and --disable";
            }
        }
    }
    for (const std::size_t on : enabled) filter.flags[on] = 1;
    for (const std::size_t off : disabled) filter.flags[off] = 0;
    return std::nullopt;
}

std::string packetTypesReport(const NettlebeamApiPacketsTypeFilter& filter) {
    std::string text;
    for (std::size_t i = 0; i < kPacketTypeNames.size(); ++i) {
        text += format("%-16s %s\n", kPacketTypeNames[i], filter.flags[i] != 0 ? "on" : "off");
    }
    return text;
}

std::string packetTypesJson(const NettlebeamApiPacketsTypeFilter& filter) {
    JsonObject types;
    for (std::size_t i = 0; i < kPacketTypeNames.size(); ++i) {
        types.add(kPacketTypeNames[i], filter.flags[i] != 0);
    }
    JsonObject report;
    report.addRaw("types", types.text());
    return report.text();
}

}  // namespace beamctl
