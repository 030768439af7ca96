// Where a device's frames come from: generated traffic or a replayed file.
// The engine asks for frames that are due by a given time; timestamps are
// nanoseconds since the Unix epoch.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <string>

#include "frame.h"
#include "frame_generator.h"
#include "traffic_profile.h"

namespace nettlebeam::traffic {

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
    // The port's link runs in half duplex now (collisions become possible).
    virtual void setHalfDuplex(Port, bool) {}
};

// What the device tells a source about one port.
struct PortLine {
    double mbitPerSecond = 1000;
    bool halfDuplex = false;  // copper in half duplex: collisions can happen
};

// Generated traffic at the profile's rate on each selected port, evenly spaced.
class GeneratedSource : public FrameSource {
  public:
    GeneratedSource(const TrafficProfile& profile, std::array<PortLine, 2> lines);
    const Frame* next(uint64_t nowNs) override;
    uint64_t nextDueNs() override;
    void begin(uint64_t nowNs) override;

  private:
    std::array<FrameGenerator, 2> generators_;
    std::array<uint64_t, 2> intervalNs_{};  // 0: the port carries nothing
    std::array<uint64_t, 2> dueNs_{};
};

}  // namespace nettlebeam::traffic
