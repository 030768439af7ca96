// Where a device's frames come from: generated traffic (generated_source.h)
// or a replayed file (replay_source.h), paced by due times, or frames fed
// from outside the daemon (a kernel socket, a pipe), which arrive when they
// arrive. The engine asks for frames that are due by a given time;
// timestamps are nanoseconds since the Unix epoch.
#pragma once

#include <array>
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
    // A source with a wake descriptor that holds no frame returns its own
    // next deadline, or kWhenReadable when it has none.
    virtual uint64_t nextDueNs() = 0;
    static constexpr uint64_t kWhenReadable = UINT64_MAX - 1;
    // Called once before the first frame, with the time the traffic starts.
    virtual void begin(uint64_t nowNs) = 0;
    // The port's link changed speed or duplex.
    virtual void setLine(Port, const PortLine&) {}
    // A descriptor that turns readable when frames arrive, for a source fed
    // from outside the daemon; -1 for the paced sources. With one, the engine
    // sleeps until the descriptor is readable or nextDueNs() has come,
    // whichever is first, and takes the frames at once; without, it wakes by
    // due time and takes paced frames in batches. Asked once, when the engine
    // is made; it stays open as long as the source. When the descriptor ends
    // (hang-up, error), the source reports UINT64_MAX as its next due time.
    virtual int wakeDescriptor() const { return -1; }
    // Frames per port (A, B) that arrived but were lost before the source
    // could hand them over (a kernel ring that overflowed), since the last
    // call. They count as host drops. Asked by the engine after each batch
    // of a source with a wake descriptor.
    virtual std::array<uint64_t, 2> takeLost() { return {}; }
    // Whether anything needs the frames beyond their headers (a capture, the
    // DPI filter). A source whose every byte costs (a kernel ring, where the
    // kernel copies each frame on the CPU that also forwards it) may hand
    // over only the headers while not; wireLength stays the frame's length.
    // Called from the device's control thread, at any time; frames that
    // arrived before a call may still come the old way.
    virtual void keepWholeFrames(bool) {}
};

}  // namespace nettlebeam::traffic
