// The options of a device made of network interfaces, shared by `attach`
// and the lines of a fleet file, and their encoding in the attach request.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <variant>
#include <vector>

namespace nettlebeam::driver::netif {

struct NetifSettings {
    std::string portA;                          // the interface of port A
    std::string portB;                          // of port B; empty: port B has no link
    bool inlineMode = false;                    // forward between the two interfaces
    unsigned type = 0;                          // the device type; 0 follows the interfaces' speed
    std::optional<std::array<uint8_t, 6>> mac;  // port A's address when absent
};

using NetifOptionsResult = std::variant<NetifSettings, std::string>;

// Parses "--interfaces IF_A[,IF_B] [--inline] [--type N] [--mac M]". The
// interfaces are looked up here: a missing, loopback or non-Ethernet
// interface, or the same one twice, is an error naming it.
NetifOptionsResult parseNetifOptions(const std::vector<std::string>& args);

std::vector<uint8_t> encodeNetifSettings(const NetifSettings& settings);
std::optional<NetifSettings> decodeNetifSettings(const std::vector<uint8_t>& bytes);

}  // namespace nettlebeam::driver::netif
