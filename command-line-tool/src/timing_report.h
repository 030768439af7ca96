// `time show`: the device's time source, GPS reception and clock, with the
// names the window's Timing page uses.
#pragma once

#include <NettlebeamAPI.h>

#include <string>

namespace beamctl {

// "System clock", "RTC", "GPS", "Manual", "SNTP"; "unknown" for other values.
const char* timeSourceName(std::int32_t source);

std::string timingReport(const NettlebeamApiTimingStatus& status);
std::string timingJson(const NettlebeamApiTimingStatus& status);

}  // namespace beamctl
