// Time as the simulated devices see it.
#pragma once

#include <chrono>
#include <cstdint>

namespace nettlebeam::driver::sim {

using Clock = std::chrono::steady_clock;
using TimePoint = Clock::time_point;

// The devices count time in 50 MHz ticks.
constexpr uint64_t kTicksPerSecond = 50'000'000;

inline uint64_t toTicks(Clock::duration d) {
    return static_cast<uint64_t>(std::chrono::duration_cast<std::chrono::nanoseconds>(d).count()) /
           20;
}

inline double secondsBetween(TimePoint from, TimePoint to) {
    return std::chrono::duration<double>(to - from).count();
}

}  // namespace nettlebeam::driver::sim
