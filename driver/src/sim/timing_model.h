// The device clock, its real-time clock, the GPS receiver and its output.
#pragma once

#include <array>
#include <chrono>
#include <cstdint>
#include <optional>
#include <span>
#include <string>

#include "sim_clock.h"

namespace nettlebeam::driver::sim {

using UtcTime = std::chrono::system_clock::time_point;

class TimingModel {
  public:
    static constexpr size_t kStatusSize = 19;
    static constexpr size_t kSetTimeSize = 17;
    static constexpr size_t kOutputCapacity = 8192;
    // The receiver finds a 2D fix this long after power-on, and 3D after
    // the second delay.
    static constexpr double k2dFixAfter = 4.0;
    static constexpr double k3dFixAfter = 12.0;

    TimingModel(bool gpsFitted, uint32_t hwFirmwareVersion);
    // A firmware update can change what the device reports; the clock runs on.
    void setHardware(bool gpsFitted, uint32_t hwFirmwareVersion) {
        gpsFitted_ = gpsFitted;
        hwFirmwareVersion_ = hwFirmwareVersion;
    }

    // `initSource` is configuration word 2 bits 2 to 4.
    void powerOn(TimePoint now, UtcTime utc, uint32_t initSource);
    // Emits the second's NMEA sentences when a new UTC second has begun.
    void tick(TimePoint now, UtcTime utc);

    std::array<uint8_t, kStatusSize> status(TimePoint now, UtcTime utc) const;
    // False when the block is malformed or asks for GPS time without a fix.
    bool setTime(std::span<const uint8_t> block, TimePoint now, UtcTime utc);

    // Takes up to `capacity` bytes of the receiver's output.
    std::string readOutput(size_t capacity);
    void flushOutput() { output_.clear(); }
    size_t pendingOutput() const { return output_.size(); }

    int fixDimensions(TimePoint now) const;
    UtcTime deviceTime(UtcTime utc) const { return utc + deviceOffset_; }

  private:
    double sinceFix(TimePoint now) const;
    void appendOutput(const std::string& text);

    bool gpsFitted_;
    uint32_t hwFirmwareVersion_;
    TimePoint poweredOn_{};
    // The device clock runs at host rate with its own offset; the RTC keeps
    // it across power cycles.
    std::chrono::system_clock::duration deviceOffset_{};
    uint8_t timeSourceCode_ = 1;
    bool followGps_ = false;  // set from GPS time once a fix arrives
    std::optional<int64_t> lastEmittedSecond_;
    std::string output_;
};

}  // namespace nettlebeam::driver::sim
