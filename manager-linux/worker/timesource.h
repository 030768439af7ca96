// The time sources of the library's timing records: what a timing status
// reports as the clock's source and what a time set asks the device to take.
#pragma once

#include <cstdint>

namespace TimeSource {
inline constexpr int32_t kSystemClock = 0;
inline constexpr int32_t kRtc = 1;
inline constexpr int32_t kGps = 2;
// What the library reports for a device value it does not list.
inline constexpr int32_t kUnlisted = 3;
inline constexpr int32_t kManual = 4;
// A time set from SNTP: the worker fetches the time before it sets it.
inline constexpr int32_t kSntp = 5;
}  // namespace TimeSource
