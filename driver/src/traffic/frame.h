// One Ethernet frame as a device port sees it.
//
// The bytes are borrowed from the source that produced the frame and stay
// valid until the source produces the next one, so the per-frame path never
// allocates.
#pragma once

#include <cstdint>
#include <span>

namespace nettlebeam::traffic {

enum class Port : uint8_t { A = 0, B = 1 };

// Frame error flags as the port's MAC reports them.
enum FrameFlag : uint8_t {
    kCrcError = 1u << 0,   // the FCS does not match the frame
    kJabber = 1u << 1,     // oversize frame with a bad FCS
    kCollision = 1u << 2,  // half-duplex collision fragment
};

struct Frame {
    // The frame from the destination MAC up to, not including, the FCS.
    std::span<const uint8_t> bytes;
    // The FCS as carried on the wire (little-endian CRC-32 value); meaningful
    // only when hasFcs is set. Frames replayed from files usually lost theirs.
    uint32_t fcs = 0;
    bool hasFcs = false;
    // Length on the wire including the FCS; larger than bytes.size() + 4 when
    // the source itself was sliced.
    uint32_t wireLength = 0;
    Port port = Port::A;
    uint8_t flags = 0;
    uint64_t timestampNs = 0;  // nanoseconds since the Unix epoch
    // The source handed over only the headers, since nothing needed more
    // when the frame arrived (FrameSource::keepWholeFrames): it is counted
    // and classified but never captured, cut short as it is.
    bool headersOnly = false;

    bool crcValid() const { return (flags & (kCrcError | kJabber | kCollision)) == 0; }
};

// Largest frame the ports carry (jumbo 9000-byte payload + headers + FCS).
inline constexpr uint32_t kMaxFrameLength = 9022;

}  // namespace nettlebeam::traffic
