// Where a device's frames come from: generated traffic (generated_source.h)
// or a replayed file (replay_source.h). The engine asks for frames that are due by a given time;
// timestamps are nanoseconds since the Unix epoch.
#pragma once

#include <cstdint>

#include "frame.h"

namespace nettlebeam::traffic {

// What the device tells a source about one port.
struct PortLine {
    double mbitPerSecond = 1000;  // the negotiated speed
    bool halfDuplex = false;      // copper in half duplex: collisions can happen
    bool operator==(const PortLine&) const = default;
};

class FrameSource {
  public:
    virtual ~FrameSource() = default;
    // The next frame due at or before `nowNs`, or null when none is due yet.
    // The frame stays valid until the next call of next() or nextDueNs().
    virtual const Frame* next(uint64_t nowNs) = 0;
    // When the next frame will be due; UINT64_MAX when no more will come.
    virtual uint64_t nextDueNs() = 0;
    // Called once before the first frame, with the time the traffic starts.
    virtual void begin(uint64_t nowNs) = 0;
    // The port's link changed speed or duplex.
    virtual void setLine(Port, const PortLine&) {}
};

}  // namespace nettlebeam::traffic
