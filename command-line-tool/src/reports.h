// The text reports of beamctl, built from the library's records.
#pragma once

#include <NettlebeamAPI.h>

#include <cstdint>
#include <optional>
#include <string>

namespace beamctl {

// A byte count with the G, M and K prefixes in steps of 1024 and two decimals;
// each threshold is exceeded strictly ("1024.00 B", not "1.00 KB").
std::string sizeText(std::uint64_t bytes);

// The model name `list` prints for a device type, or nothing for a type with
// no display group.
std::optional<const char*> modelName(std::uint32_t deviceType);

// "aa:bb:cc:dd:ee:ff\n"
std::string macLine(const std::uint8_t (&mac)[6]);

// The counters of a statistics record in its version's layout; nothing for
// a version the tool does not know.
std::optional<std::string> statisticsReport(const NettlebeamApiStatistics& statistics);

// The direct-capture lines that end each statistics report.
std::string captureSummary(const NettlebeamApiDiskDumpStatus& status);

// The report of `directcapture status`.
std::string captureStatusReport(const NettlebeamApiDiskDumpStatus& status);

// The report of `dpi show`.
std::string dpiFilterReport(const NettlebeamApiDpiFilter& filter);

// The report of `features show`; capabilities decide the forced lines.
std::string featuresReport(const NettlebeamApiDeviceFeatures& features, std::uint32_t capabilities);

// `features show --json`: the same settings, a forced one marked as such.
std::string featuresJson(const NettlebeamApiDeviceFeatures& features, std::uint32_t capabilities);

}  // namespace beamctl
