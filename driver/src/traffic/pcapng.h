// pcapng block encoding: section header, interface description, enhanced
// packet and interface statistics blocks, little-endian, written straight
// into caller-provided memory so the per-frame path does not allocate.
#pragma once

#include <cstdint>
#include <cstring>
#include <span>
#include <string_view>
#include <vector>

namespace nettlebeam::traffic::pcapng {

inline constexpr uint32_t kSectionHeader = 0x0A0D0D0A;
inline constexpr uint32_t kInterfaceDescription = 1;
inline constexpr uint32_t kInterfaceStatistics = 5;
inline constexpr uint32_t kEnhancedPacket = 6;
inline constexpr uint16_t kLinkTypeEthernet = 1;
inline constexpr size_t kEnhancedPacketOverhead = 32;  // header, timestamps, lengths, trailer

constexpr size_t padded(size_t length) {
    return (length + 3) & ~size_t{3};
}
constexpr size_t enhancedPacketSize(size_t capturedLength) {
    return kEnhancedPacketOverhead + padded(capturedLength);
}

// The section header and one interface block per port (port A is interface
// 0, port B interface 1), both Ethernet with nanosecond timestamps and the
// same snap length.
std::vector<uint8_t> fileHeader(uint32_t snapLength, std::string_view application);

struct InterfaceCounts {
    uint64_t received = 0;  // frames the port received since the capture started
    uint64_t dropped = 0;   // frames lost on the way to the host
    uint64_t accepted = 0;  // frames that passed the filters
};
std::vector<uint8_t> interfaceStatistics(uint32_t interfaceId, uint64_t startNs, uint64_t endNs,
                                         const InterfaceCounts& counts);

// Writes one enhanced packet block at `out`, which has room for
// enhancedPacketSize(data.size() + extra.size()) bytes. `extra` follows
// `data` in the captured bytes (the FCS when it is kept).
inline void writeEnhancedPacket(uint8_t* out, uint32_t interfaceId, uint64_t timestampNs,
                                std::span<const uint8_t> data, std::span<const uint8_t> extra,
                                uint32_t originalLength) {
    const size_t captured = data.size() + extra.size();
    const uint32_t total = static_cast<uint32_t>(enhancedPacketSize(captured));
    // Field by field straight into the block: a header assembled on the stack
    // and copied as a whole stalls on store forwarding, once per frame.
    auto put32 = [out](size_t at, uint32_t value) { std::memcpy(out + at, &value, 4); };
    put32(0, kEnhancedPacket);  // the host is little-endian (checked at build)
    put32(4, total);
    put32(8, interfaceId);
    put32(12, static_cast<uint32_t>(timestampNs >> 32));
    put32(16, static_cast<uint32_t>(timestampNs));
    put32(20, static_cast<uint32_t>(captured));
    put32(24, originalLength);
    // The padding is zeroed by one store under the data's last word, before
    // the data goes in (cheaper than a call to fill a few bytes).
    if (captured % 4 != 0) put32(28 + padded(captured) - 4, 0);
    std::memcpy(out + 28, data.data(), data.size());
    if (!extra.empty()) std::memcpy(out + 28 + data.size(), extra.data(), extra.size());
    std::memcpy(out + total - 4, &total, 4);
}

// Block type and total length at `block`; the caller has 8 bytes there.
inline uint32_t blockLength(const uint8_t* block) {
    uint32_t length;
    std::memcpy(&length, block + 4, 4);
    return length;
}

}  // namespace nettlebeam::traffic::pcapng
