// The transceiver modules in the two cages of a ten-gigabit device: their
// serial ID page (A0) and their diagnostics page (A2) as SFF-8472 lays them
// out, with diagnostics that drift slowly over time.
#pragma once

#include <array>
#include <cstdint>
#include <vector>

#include "module_pages.h"
#include "sim_clock.h"
#include "transceiver_kind.h"

namespace nettlebeam::driver::sim {

// Physical diagnostic values in the units the module's pages encode.
struct Diagnostics {
    double temperature = 0;  // degrees Celsius
    double vcc = 0;          // volts
    double txBias = 0;       // milliamperes
    double txPower = 0;      // milliwatts
    double rxPower = 0;      // milliwatts
};

class TransceiverModule {
  public:
    explicit TransceiverModule(TransceiverKind kind, int cage);

    bool present() const { return kind_ != TransceiverKind::Empty; }
    // The values the module measures `elapsed` seconds after power-on.
    Diagnostics diagnosticsAt(double elapsed) const;
    const std::array<uint8_t, 128>& serialIdPage() const { return a0_; }
    // The diagnostics page with the measured values and their flags.
    std::array<uint8_t, 128> diagnosticsPage(double elapsed) const;

  private:
    void buildSerialId();
    void buildThresholds();

    TransceiverKind kind_;
    int cage_;
    std::array<uint8_t, 128> a0_{};
    std::array<uint8_t, 128> a2Static_{};  // thresholds and calibration constants
    Diagnostics highAlarm_, lowAlarm_, highWarning_, lowWarning_;
};

class TransceiverModel {
  public:
    static constexpr size_t kReplySize = 500;

    TransceiverModel(TransceiverKind cageA, TransceiverKind cageB);

    bool cagePopulated(int cage) const { return modules_[cage].present(); }
    void powerOn(TimePoint now) { poweredOn_ = now; }
    std::vector<uint8_t> transceiverData(TimePoint now) const;
    // The transceiver data reply for these modules (empty: the cage is
    // empty); a module without diagnostics leaves its A2 bytes zero.
    static std::vector<uint8_t> reply(const std::array<std::optional<ModulePages>, 2>& cages);

  private:
    std::array<TransceiverModule, 2> modules_;
    TimePoint poweredOn_{};
};

}  // namespace nettlebeam::driver::sim
