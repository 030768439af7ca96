// The key fields of the header packet filter record as the editors see them:
// an address is a run of bytes in written order (the first byte of
// "aa:bb:..." first) with a compared/wildcard flag per byte, while the record
// keeps it last byte first with one care bit per record byte.
#pragma once

#include <NettlebeamAPI.h>

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace nettlebeam::records {

// Record offsets of the key fields; care bit n covers the byte at offset 10 + n.
enum class FilterField : int {
    DstMac = 10,
    SrcMac = 16,
    DstIp = 22,
    SrcIp = 38,
    DstPort = 54,
    SrcPort = 56,
};

// How many record bytes the field holds.
std::size_t fieldWidth(FilterField field);

// The 48 care bits of the record as one number.
std::uint64_t careMask(const NettlebeamApiPacketFilter& filter);
// Sets the 48 care bits; the caller's bits above them in both words are kept.
void setCareMask(NettlebeamApiPacketFilter& filter, std::uint64_t mask);

// Stores `bytes` (written order) at `field`: byte i at offset
// field + size - 1 - i, its care bit set when mask[i] is 0xFF (care bits
// already set stay set). False, with the record unchanged, when there are
// more bytes than the field holds.
bool storeBytes(NettlebeamApiPacketFilter& filter, FilterField field,
                std::span<const std::uint8_t> bytes, std::span<const std::uint8_t> mask);
// The first `bytes.size()` bytes at `field` in written order, and their
// masks: 0xFF for a byte whose care bit is set, else 0. False, with nothing
// written, when more are asked for than the field holds.
bool loadBytes(const NettlebeamApiPacketFilter& filter, FilterField field,
               std::span<std::uint8_t> bytes);
bool loadMask(const NettlebeamApiPacketFilter& filter, FilterField field,
              std::span<std::uint8_t> mask);

// A port with both of its care bits.
void storePort(NettlebeamApiPacketFilter& filter, FilterField field, std::uint16_t port);

// A port as the editors take it: decimal digits ("010" is 10), an optional
// leading '+', spaces around it ignored; nothing above 65535.
std::optional<std::uint16_t> parsePort(std::string_view text);

// Whether the record's addresses are IPv6 (else IPv4).
bool filterIsIpv6(const NettlebeamApiPacketFilter& filter);

// Whether the filter compares the field: its flag is set and, for a
// destination field, its layer matches a source/destination pair (a layer
// matching either direction uses only the source field).
bool filterUsesField(const NettlebeamApiPacketFilter& filter, FilterField field);

// Zeroes the field's bytes and clears its care bits.
void clearField(NettlebeamApiPacketFilter& filter, FilterField field);

// The record with only what the filter uses: its enabled word, flags and
// directions, and the fields it uses (an address as wide as its version)
// with their care bits; every other byte and bit zero.
NettlebeamApiPacketFilter usedFieldsOnly(const NettlebeamApiPacketFilter& filter);

// An address field (DstIp or SrcIp) in the text the editors show, of the
// record's IP version; a MAC field (DstMac or SrcMac) likewise.
std::string filterAddressText(const NettlebeamApiPacketFilter& filter, FilterField field);
std::string filterMacText(const NettlebeamApiPacketFilter& filter, FilterField field);

// Parses `text` as an address of the record's IP version (or a MAC) and
// stores it with its care bits; false, with the record unchanged, for text
// the parser refuses.
bool storeAddressText(NettlebeamApiPacketFilter& filter, FilterField field, std::string_view text);
bool storeMacText(NettlebeamApiPacketFilter& filter, FilterField field, std::string_view text);

}  // namespace nettlebeam::records
