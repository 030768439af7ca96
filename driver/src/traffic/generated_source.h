// Generated traffic at the profile's rate on each selected port, evenly
// spaced; a share of the line rate follows the negotiated speed.
#pragma once

#include <array>
#include <cstdint>

#include "frame_generator.h"
#include "frame_source.h"
#include "traffic_profile.h"

namespace nettlebeam::traffic {

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
