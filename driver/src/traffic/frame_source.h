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

// Generated traffic at the profile's rate on each selected port, evenly
// spaced; a share of the line rate follows the negotiated speed.
class GeneratedSource : public FrameSource {
  public:
    GeneratedSource(const TrafficProfile& profile, std::array<PortLine, 2> lines);
    const Frame* next(uint64_t nowNs) override;
    uint64_t nextDueNs() override;
    void begin(uint64_t nowNs) override;
    void setLine(Port port, const PortLine& line) override;
    // Nanoseconds between frames on the port; 0 when it carries nothing.
    uint64_t intervalNs(Port port) const { return intervalNs_[static_cast<size_t>(port)]; }

  private:
    TrafficProfile profile_;
    std::array<FrameGenerator, 2> generators_;
    std::array<uint64_t, 2> intervalNs_{};  // 0: the port carries nothing
    std::array<uint64_t, 2> dueNs_{};
};

}  // namespace nettlebeam::traffic
