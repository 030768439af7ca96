// `filter header`: the header packet filter as the window's panel shows and
// fills it, with each field given as an option.
#pragma once

#include <NettlebeamAPI.h>

#include <optional>
#include <string>

namespace beamctl {

struct HeaderFilterChange {
    std::optional<std::string> enabled;    // "yes" or "no"
    std::optional<std::string> ipVersion;  // "4" or "6"
    // An address (with wildcards, as the window takes it) or "off".
    std::optional<std::string> srcMac, dstMac, srcIp, dstIp;
    std::optional<std::string> srcPort, dstPort;  // 0 to 65535, or "off"
    // "pair" matches source and destination, "either" one address in either
    // direction (only the source fields are then used).
    std::optional<std::string> macMode, ipMode, portMode;
};

// Applies `change` and leaves in `filter` what the window would send: the
// fields in use and nothing else. Nothing on success, otherwise the option
// and why it was refused, with `filter` left as it was. An address is read
// in the IP version the filter has after the change; changing the version
// needs each IP field in use given again or turned off.
std::optional<std::string> applyHeaderFilterChange(NettlebeamApiPacketFilter& filter,
                                                   const HeaderFilterChange& change);

// One "Label : value" line per row of the window's panel; a field not in use
// shows "off", and a layer matching either direction has one address row.
std::string headerFilterReport(const NettlebeamApiPacketFilter& filter);
// {"enabled":..,"ipVersion":4|6,"macMode":"pair"|"either","ipMode":..,
// "portMode":..,"srcMac":..,"dstMac":..,"srcIp":..,"dstIp":..,"srcPort":..,
// "dstPort":..}: addresses as text, ports as numbers, null for a field not
// in use.
std::string headerFilterJson(const NettlebeamApiPacketFilter& filter);

}  // namespace beamctl
