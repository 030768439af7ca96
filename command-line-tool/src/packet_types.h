// The packet-type classes of the hardware filter by the names `filter types`
// takes and prints, in the order of the record's flags.
#pragma once

#include <NettlebeamAPI.h>

#include <array>
#include <optional>
#include <string>

namespace beamctl {

// The window's labels as single words, one per record flag.
constexpr std::array<const char*, NETTLEBEAM_PACKET_TYPE_CLASSES> kPacketTypeNames = {
    "ipv4",
    "ipv6",
    "arp",
    "tcp",
    "udp",
    "icmp",
    "igmp",
    "https",
    "http",
    "ftp",
    "dns",
    "smtp",
    "pop3",
    "dhcp",
    "ssh",
    "sip",
    "smb",
    "tcp-fin",
    "tcp-syn",
    "tcp-rst",
    "tcp-push",
    "tcp-ack",
    "tcp-zero-window",
    "quic",
    "l2-other",
    "l4-other"};

struct PacketTypesChange {
    std::optional<std::string> enable;   // comma-separated names
    std::optional<std::string> disable;  // comma-separated names
};

// Applies `change`; nothing on success, otherwise the option and why it was
// refused, with `filter` left as it was.
std::optional<std::string> applyPacketTypesChange(NettlebeamApiPacketsTypeFilter& filter,
                                                  const PacketTypesChange& change);

// "ipv4            on\n" per class.
std::string packetTypesReport(const NettlebeamApiPacketsTypeFilter& filter);
// {"types":{"ipv4":true,...}} in record order.
std::string packetTypesJson(const NettlebeamApiPacketsTypeFilter& filter);

}  // namespace beamctl
