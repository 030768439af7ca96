// The device's three hardware filters, each built from its device block and
// evaluated on every frame before capture. A filter that is off passes
// everything.
//
// Packet-type filter: a frame passes when every class it belongs to is
// selected. A frame belongs to its layer-2 class (IPv4, IPv6, ARP, or "other
// layer-2 traffic" for any other EtherType), to its layer-4 class (TCP, UDP,
// ICMP/ICMPv6, IGMP, or "other layer-4 traffic" for any other IP protocol),
// to each application class whose well-known port it uses on either side,
// and to the class of each TCP flag it carries (zero window: a TCP header
// without RST whose window is 0). So clearing "HTTP" removes HTTP frames and
// nothing else, and clearing "TCP ACK flag" removes every TCP frame with ACK.
//
// Packet filter: a frame passes when every field marked used matches, bytes
// whose care bit is clear being wildcards. Addresses in the block are stored
// last byte first. The IP fields compare IPv6 addresses when the IPv6 flag is
// set, else IPv4 addresses (the first four bytes); a frame of the other IP
// version, or without IP, does not match a used IP field, and a frame
// without TCP or UDP does not match a used port field. With a group's
// either-direction flag (MAC, IP, port) the group also matches with source
// and destination exchanged.
//
// DPI filter: a frame passes when its payload (after the TCP or UDP header,
// else after the IP header, else after the Ethernet header) contains the
// pattern at any offset. Mask bit i makes pattern byte i significant; the
// pattern ends at the highest significant byte, and a pattern without
// significant bytes matches every frame.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <span>

#include "classify.h"
#include "frame.h"

namespace nettlebeam::traffic {

class PacketTypeFilter {
  public:
    static constexpr size_t kBlockSize = 8;
    static std::optional<PacketTypeFilter> fromBlock(std::span<const uint8_t> block);
    PacketTypeFilter() = default;  // every class selected

    bool passes(const FrameInfo& info) const { return (info.classes & ~word_) == 0; }
    // Every class a frame can have is selected.
    bool passesAll() const;
    std::array<uint8_t, kBlockSize> block() const;

  private:
    uint64_t word_ = ~uint64_t{0};
};

class DpiFilter {
  public:
    static constexpr size_t kBlockSize = 224;
    static std::optional<DpiFilter> fromBlock(std::span<const uint8_t> block);
    DpiFilter();  // off

    bool enabled() const { return enabled_; }
    bool passes(const Frame& frame, const FrameInfo& info) const;
    const std::array<uint8_t, kBlockSize>& block() const { return block_; }

  private:
    std::array<uint8_t, kBlockSize> block_{};
    bool enabled_ = false;
    std::array<uint8_t, 32> pattern_{};
    uint32_t mask_ = 0;
    size_t length_ = 0;  // up to and including the last significant byte
    size_t anchor_ = 0;  // first significant byte
};

class PacketFilter {
  public:
    static constexpr size_t kBlockSize = 248;
    static std::optional<PacketFilter> fromBlock(std::span<const uint8_t> block);
    PacketFilter();  // off

    bool enabled() const { return enabled_; }
    bool passes(const FrameInfo& info) const;
    const std::array<uint8_t, kBlockSize>& block() const { return block_; }

  private:
    // The 48 compared bytes (block bytes 8..55) as a frame's fields would
    // appear there, for the straight and the exchanged direction.
    bool fieldMatches(size_t offset, size_t length, const uint8_t* candidate) const;
    bool groupMatches(size_t dstOffset, size_t srcOffset, size_t length, bool dstUsed, bool srcUsed,
                      bool either, const uint8_t* frameDst, const uint8_t* frameSrc) const;

    std::array<uint8_t, kBlockSize> block_{};
    bool enabled_ = false;
    uint64_t care_ = 0;
    uint16_t either_ = 0;
    uint32_t fieldFlags_ = 0;
};

// The three filters together, in the order the device applies them.
struct FilterSet {
    PacketTypeFilter packetType;
    PacketFilter packet;
    DpiFilter dpi;

    // False when every frame passes, so the frame need not be parsed.
    bool anyActive() const { return !packetType.passesAll() || packet.enabled() || dpi.enabled(); }
    bool passes(const Frame& frame, const FrameInfo& info) const {
        return packetType.passes(info) && (!packet.enabled() || packet.passes(info)) &&
               (!dpi.enabled() || dpi.passes(frame, info));
    }
};

}  // namespace nettlebeam::traffic
