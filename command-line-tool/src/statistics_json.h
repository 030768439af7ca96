// The JSON forms of `statistics --json` (one object per line and report) and
// of `directcapture status --json`. Field names are listed in beamctl.1.
#pragma once

#include <NettlebeamAPI.h>

#include <optional>
#include <string>
#include <vector>

#include "rates.h"

namespace beamctl {

std::string captureJson(const NettlebeamApiDiskDumpStatus& status);

// A report of totals. `definitions` holds the sixteen counter definitions
// of a format-2 device (empty when unknown); `capture` is null when it
// could not be read.
std::string statisticsJson(const NettlebeamApiStatistics& statistics,
                           const std::vector<std::string>& definitions,
                           const NettlebeamApiDiskDumpStatus* capture);

// A report of rates over `seconds` ending with `after`: per port for format
// 1 (`links` has one entry per port, or none when unknown), per counter for
// format 2.
std::string portRatesJson(const NettlebeamApiStatistics& after, double seconds,
                          const std::vector<PortRates>& rates,
                          const std::vector<std::optional<NettlebeamApiPortLink>>& links);
std::string counterRatesJson(const NettlebeamApiStatistics& after, double seconds,
                             const std::vector<double>& rates,
                             const std::vector<std::string>& definitions);

}  // namespace beamctl
