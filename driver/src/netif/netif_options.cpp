#include "netif_options.h"

#include <cstring>

#include "../device_options.h"
#include "../text_parse.h"
#include "interface_info.h"

namespace nettlebeam::driver::netif {

namespace {

constexpr uint8_t kEncodingVersion = 1;

}  // namespace

NetifOptionsResult parseNetifOptions(const std::vector<std::string>& args) {
    NetifSettings settings;
    bool interfacesGiven = false;
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& name = args[i];
        if (name == "--inline") {
            settings.inlineMode = true;
            continue;
        }
        if (name != "--interfaces" && name != "--type" && name != "--mac")
            return "unknown option '" + name + "' for an interface device";
        if (i + 1 >= args.size()) return name + " wants a value";
        const std::string& value = args[++i];
        if (name == "--interfaces") {
            const size_t comma = value.find(',');
            settings.portA = value.substr(0, comma);
            settings.portB = comma == std::string::npos ? "" : value.substr(comma + 1);
            if (comma != std::string::npos && settings.portB.empty())
                return "--interfaces wants IF_A or IF_A,IF_B, not '" + value + "'";
            interfacesGiven = true;
        } else if (name == "--type") {
            auto type = parseUnsigned(value, 14);
            // A device with ports: the types that can carry traffic.
            if (!type || *type < 3 || !hardwareIdForType(static_cast<unsigned>(*type)))
                return "--type wants a device type from 3 to 14, not '" + value + "'";
            settings.type = static_cast<unsigned>(*type);
        } else {
            auto mac = parseMac(value);
            if (!mac) return "--mac wants aa:bb:cc:dd:ee:ff, not '" + value + "'";
            settings.mac = *mac;
        }
    }
    if (!interfacesGiven) return "an interface device wants --interfaces IF_A[,IF_B]";
    if (settings.portA == settings.portB)
        return "interface " + settings.portA + " cannot be both ports";
    for (const std::string* port : {&settings.portA, &settings.portB}) {
        if (port->empty()) continue;
        auto found = lookUpInterface(*port);
        if (auto* error = std::get_if<std::string>(&found)) return *error;
    }
    if (settings.inlineMode && settings.portB.empty())
        return "--inline wants two interfaces (--interfaces IF_A,IF_B)";
    return settings;
}

// Layout: version, flags (bit 0 inline, bit 1 mac), type, mac[6], then the
// two names, each a length byte and its characters.
std::vector<uint8_t> encodeNetifSettings(const NetifSettings& s) {
    std::vector<uint8_t> out(9, 0);
    out[0] = kEncodingVersion;
    out[1] = static_cast<uint8_t>((s.inlineMode ? 1 : 0) | (s.mac ? 2 : 0));
    out[2] = static_cast<uint8_t>(s.type);
    if (s.mac) std::memcpy(&out[3], s.mac->data(), 6);
    for (const std::string* name : {&s.portA, &s.portB}) {
        out.push_back(static_cast<uint8_t>(name->size()));
        out.insert(out.end(), name->begin(), name->end());
    }
    return out;
}

std::optional<NetifSettings> decodeNetifSettings(const std::vector<uint8_t>& in) {
    constexpr size_t kHead = 9;
    if (in.size() < kHead + 2 || in[0] != kEncodingVersion || in[1] > 3) return std::nullopt;
    NetifSettings s;
    s.inlineMode = (in[1] & 1) != 0;
    if (in[1] & 2) {
        std::array<uint8_t, 6> mac{};
        std::memcpy(mac.data(), &in[3], 6);
        s.mac = mac;
    }
    s.type = in[2];
    if (s.type != 0 && (s.type < 3 || !hardwareIdForType(s.type))) return std::nullopt;
    size_t at = kHead;
    for (std::string* name : {&s.portA, &s.portB}) {
        if (at >= in.size() || at + 1 + in[at] > in.size()) return std::nullopt;
        name->assign(in.begin() + static_cast<long>(at + 1),
                     in.begin() + static_cast<long>(at + 1 + in[at]));
        at += 1 + in[at];
    }
    if (at != in.size() || !validInterfaceName(s.portA) ||
        (!s.portB.empty() && !validInterfaceName(s.portB)) || s.portA == s.portB ||
        (s.inlineMode && s.portB.empty()))
        return std::nullopt;
    return s;
}

}  // namespace nettlebeam::driver::netif
