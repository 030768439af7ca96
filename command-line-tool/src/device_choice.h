// What `-d` names: a position in the device list, or a MAC address. A MAC
// keeps naming the same device when others leave and come back and the
// positions move.
#pragma once

#include <argtable2.h>

#include <array>
#include <cstdint>
#include <optional>
#include <string>

namespace beamctl {

using Mac = std::array<std::uint8_t, 6>;

struct DeviceChoice {
    std::optional<long long> position;  // counting from 0
    std::optional<Mac> mac;
    // Neither: the first device listed.
};

// A decimal position (optionally signed) or six hexadecimal byte pairs
// separated by ':' or '-' in any case; nothing for any other text.
std::optional<DeviceChoice> deviceChoiceFrom(const std::string& text);

// The choice the `-d` option of a parsed table names; the first device when
// it is absent, nothing when its text is neither form.
std::optional<DeviceChoice> deviceChoiceOf(const arg_rex* option);

// "aa:bb:cc:dd:ee:ff"
std::string macText(const Mac& mac);

}  // namespace beamctl
