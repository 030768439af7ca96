// `counters set`: the fields of one programmable counter given as options,
// checked as the window's counter editor limits them.
#pragma once

#include <NettlebeamAPI.h>

#include <array>
#include <cstdint>
#include <optional>
#include <string>

namespace beamctl {

// The conditions `counters set` takes, as option names, in record order.
constexpr std::array<const char*, 9> kCounterConditionOptions = {
    "ipv4", "ipv6", "broadcast", "multicast", "unicast", "icmp", "udp", "tcp", "crc-valid"};

struct CounterChange {
    std::optional<std::string> mode;   // "packets" or "bytes"
    std::optional<std::string> ports;  // "A", "B", "AB" or "none"
    // "yes", "no" or "any" for each of kCounterConditionOptions.
    std::array<std::optional<std::string>, kCounterConditionOptions.size()> conditions;
    std::optional<std::string> size;  // "any", ">N", "<N" or "=N", N from 0 to 65535
    // An address with wildcards of the one IP version the counter requires
    // (after the conditions above), or "any" for none.
    std::optional<std::string> address;
};

// Applies `change`; nothing on success, otherwise the option and why it was
// refused, with `counter` left as it was.
std::optional<std::string> applyCounterChange(NettlebeamApiCounterV2& counter,
                                              const CounterChange& change);

}  // namespace beamctl
