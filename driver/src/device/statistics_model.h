// The statistics replies of a device, built from its port counters, its
// programmable counters and its link times.
#pragma once

#include <array>
#include <cstdint>
#include <vector>

#include "../sim/link_model.h"
#include "../sim/port_counters.h"
#include "../sim/sim_clock.h"
#include "counter_store.h"

namespace nettlebeam::driver::sim {

class StatisticsModel {
  public:
    static constexpr size_t kFormat1Size = 160;
    static constexpr size_t kFormat2Size = 128;
    static constexpr uint64_t kSignature = 0x0D0C0B0A03020100ull;

    // Devices whose ports have selectable speeds report port A in the first
    // counter group; the others report port B first.
    explicit StatisticsModel(bool portAFirst) : portAFirst_(portAFirst) {}

    void powerOn(TimePoint now);
    // Every frame the ports see passes here.
    void countFrame(const FrameInfo& frame);
    void countHostDrops(uint64_t packets) { hostDrops_ += packets; }

    CounterStore& counters() { return counters_; }
    const PortCounters& portCounters() const { return ports_; }

    std::vector<uint8_t> format1(TimePoint now, const LinkModel& link) const;
    std::vector<uint8_t> format2() const;
    std::array<uint8_t, 8> hostDropCounter() const;
    // Milliseconds since power-on and frames counted on both ports.
    std::array<uint8_t, 16> trailer(TimePoint now) const;

  private:
    bool portAFirst_;
    TimePoint poweredOn_{};
    PortCounters ports_;
    CounterStore counters_;
    uint64_t hostDrops_ = 0;
};

// Background traffic of an otherwise idle network: one ARP request per
// second and a DHCP broadcast every five seconds on every port with a link.
class IdleTraffic {
  public:
    void powerOn(TimePoint now) { poweredOn_ = now, secondsFed_ = 0; }
    void tick(TimePoint now, const LinkModel& link, StatisticsModel& statistics);

  private:
    TimePoint poweredOn_{};
    int64_t secondsFed_ = 0;
};

}  // namespace nettlebeam::driver::sim
