// What one reading of a device returned, in the library's own records. Each
// part is absent when the device lacks it or its request failed: the
// collectors then leave that part out of the scrape instead of reporting
// zeros nobody measured.
#pragma once

#include <NettlebeamAPI.h>

#include <optional>
#include <string>

namespace nettlebeam::exporter {

struct DeviceSample {
    std::string mac;  // "00:1b:c5:0a:00:01": the `device` label
    NettlebeamApiDeviceType type = DeviceTypeNone;
    std::optional<NettlebeamApiVersions> versions;
    std::optional<NettlebeamApiLinkStatus> link;
    std::optional<NettlebeamApiStatistics> statistics;
    std::optional<NettlebeamApiDiskDumpStatus> capture;
    // Frames the direct capture wrote; a request of its own, which a driver
    // that predates it does not answer.
    std::optional<uint64_t> captureFramesWritten;
    std::optional<NettlebeamApiTimingStatus> timing;
};

// "00:1b:c5:0a:00:01" for the six bytes.
std::string macText(const uint8_t* mac);

}  // namespace nettlebeam::exporter
