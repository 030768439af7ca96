// One line per notable event on standard error.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <string>

namespace nettlebeam::driver {

void logLine(const std::string& message);

// An event that a flood repeats thousands of times a second (connections
// dropped or closed to make room): counted, and logged with its count at
// most once a period, so the log stays readable and costs nothing under
// the flood. The first of an episode is logged at the next flush.
class RepeatedEvent {
  public:
    using Clock = std::chrono::steady_clock;
    explicit RepeatedEvent(Clock::duration period = std::chrono::seconds(10)) : period_(period) {}

    void count(uint64_t times = 1) { pending_ += times; }
    // Logs `describe(count)` for what was counted since the last line, when
    // there is any and the period since that line is over.
    void flush(Clock::time_point now, const std::function<std::string(uint64_t)>& describe);

  private:
    Clock::duration period_;
    uint64_t pending_ = 0;
    Clock::time_point lastLine_{};
    bool logged_ = false;
};

}  // namespace nettlebeam::driver
