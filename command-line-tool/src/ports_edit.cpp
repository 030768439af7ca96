#include "ports_edit.h"

#include <cstdint>
#include <vector>

#include "json.h"
#include "text.h"

namespace beamctl {
namespace {

struct Mode {
    const char* name;
    std::int32_t NettlebeamApiPortSpeed::*field;
};

const Mode kModes[] = {
    {"1000fd", &NettlebeamApiPortSpeed::fullDuplex1000},
    {"100fd", &NettlebeamApiPortSpeed::fullDuplex100},
    {"100hd", &NettlebeamApiPortSpeed::halfDuplex100},
    {"10fd", &NettlebeamApiPortSpeed::fullDuplex10},
    {"10hd", &NettlebeamApiPortSpeed::halfDuplex10},
};

const Mode kPauses[] = {
    {"sym", &NettlebeamApiPortSpeed::symmetricPause},
    {"asym", &NettlebeamApiPortSpeed::asymmetricPause},
};

std::vector<std::string> split(const std::string& list) {
    std::vector<std::string> items;
    std::string item;
    for (const char c : list) {
        if (c == ',') {
            items.push_back(item);
            item.clear();
        } else {
            item += static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
        }
    }
    items.push_back(item);
    return items;
}

// Sets exactly the named flags of `table` (all clear for `none` when
// allowed); the error names the option and the word it could not use.
template <std::size_t N>
std::optional<std::string> setFlags(NettlebeamApiPortSpeed& port, const Mode (&table)[N],
                                    const std::string& list, const char* option, bool noneAllowed) {
    NettlebeamApiPortSpeed changed = port;
    for (const Mode& mode : table) changed.*mode.field = 0;
    const std::vector<std::string> items = split(list);
    if (!(noneAllowed && items.size() == 1 && items[0] == "none")) {
        for (const std::string& item : items) {
            const Mode* found = nullptr;
            for (const Mode& mode : table) {
                if (item == mode.name) found = &mode;
            }
            if (found == nullptr) {
                std::string known;
                for (const Mode& mode : table)
                    known += std::string(known.empty() ? "" : ", ") + mode.name;
                if (noneAllowed) known += ", none";
                return format("--%s: '%s' is not one of %s", option, item.c_str(), known.c_str());
            }
            changed.*found->field = 1;
        }
    }
    port = changed;
    return std::nullopt;
}

std::optional<std::string> changePort(NettlebeamApiPortSpeed& port, const PortsChange& change) {
    if (change.autoNegotiation) port.autoNegotiation = *change.autoNegotiation ? 1 : 0;
    if (change.modes) {
        if (auto error = setFlags(port, kModes, *change.modes, "modes", false)) return error;
    }
    if (change.pause) {
        if (auto error = setFlags(port, kPauses, *change.pause, "pause", true)) return error;
    }
    if (change.role) {
        if (*change.role == "auto") {
            port.forceMasterSlave = 0;
            port.master = 0;
        } else if (*change.role == "master" || *change.role == "slave") {
            port.forceMasterSlave = 1;
            port.master = *change.role == "master" ? 1 : 0;
        } else {
            return "--role: '" + *change.role + "' is not one of auto, master, slave";
        }
    }
    // Without a mode offered the port can never bring a link up.
    bool anyMode = false;
    for (const Mode& mode : kModes) anyMode = anyMode || port.*mode.field != 0;
    if (!anyMode) return std::string("--modes: a port must offer at least one speed and duplex");
    return std::nullopt;
}

std::string flagsText(const NettlebeamApiPortSpeed& port, const Mode* begin, const Mode* end) {
    std::string text;
    for (const Mode* mode = begin; mode != end; ++mode) {
        if (port.*mode->field == 0) continue;
        if (!text.empty()) text += ',';
        text += mode->name;
    }
    return text.empty() ? "none" : text;
}

const char* roleText(const NettlebeamApiPortSpeed& port) {
    if (port.forceMasterSlave == 0) return "auto";
    return port.master != 0 ? "master" : "slave";
}

}  // namespace

std::optional<std::string> applyPortsChange(NettlebeamApiPortsSpeed& speeds,
                                            const PortsChange& change) {
    NettlebeamApiPortsSpeed changed = speeds;
    if (change.portA) {
        if (auto error = changePort(changed.ports[0], change)) return "port A: " + *error;
    }
    if (change.portB) {
        if (auto error = changePort(changed.ports[1], change)) return "port B: " + *error;
    }
    speeds = changed;
    return std::nullopt;
}

std::string portsReport(const NettlebeamApiPortsSpeed& speeds) {
    std::string text;
    for (int i = 0; i < 2; ++i) {
        const NettlebeamApiPortSpeed& port = speeds.ports[i];
        text +=
            format("Port %c : auto-negotiation %s, modes %s, pause %s, role %s\n", 'A' + i,
                   port.autoNegotiation != 0 ? "on" : "off",
                   flagsText(port, std::begin(kModes), std::end(kModes)).c_str(),
                   flagsText(port, std::begin(kPauses), std::end(kPauses)).c_str(), roleText(port));
    }
    return text;
}

std::string portsJson(const NettlebeamApiPortsSpeed& speeds) {
    std::vector<std::string> ports;
    for (int i = 0; i < 2; ++i) {
        const NettlebeamApiPortSpeed& port = speeds.ports[i];
        JsonObject json;
        json.add("port", std::string(1, static_cast<char>('A' + i)))
            .add("autoNegotiation", port.autoNegotiation != 0);
        for (const Mode& mode : kModes) json.add(mode.name, port.*mode.field != 0);
        json.add("symmetricPause", port.symmetricPause != 0)
            .add("asymmetricPause", port.asymmetricPause != 0)
            .add("role", roleText(port));
        ports.push_back(json.text());
    }
    JsonObject report;
    report.addRaw("ports", jsonArray(ports));
    return report.text();
}

}  // namespace beamctl
