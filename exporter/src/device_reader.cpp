#include "device_reader.h"

#include <cstdio>

namespace nettlebeam::exporter {

std::string macText(const uint8_t* mac) {
    char text[18];
    std::snprintf(text, sizeof text, "%02x:%02x:%02x:%02x:%02x:%02x", mac[0], mac[1], mac[2],
                  mac[3], mac[4], mac[5]);
    return text;
}

namespace {

template <typename Record, typename Read>
std::optional<Record> readPart(Read read) {
    Record record{};
    if (read(&record) != NETTLEBEAM_STATUS_SUCCESS) return std::nullopt;
    return record;
}

}  // namespace

std::optional<DeviceSample> readDevice(NettlebeamApiDeviceHandle handle,
                                       const std::set<std::string>& selected) {
    DeviceSample sample;
    uint8_t mac[6] = {};
    if (NettlebeamAPIGetDeviceMAC(handle, mac) != NETTLEBEAM_STATUS_SUCCESS) return std::nullopt;
    if (!selected.empty() && !selected.contains(macText(mac))) return std::nullopt;
    if (NettlebeamAPIGetDeviceType(handle, &sample.type) != NETTLEBEAM_STATUS_SUCCESS)
        return std::nullopt;
    sample.mac = macText(mac);
    NettlebeamApiCapabilities capabilities = NettlebeamAPIGetDeviceCapabilitiesEx(handle);
    sample.versions = readPart<NettlebeamApiVersions>(
        [&](NettlebeamApiVersions* r) { return NettlebeamAPIGetVersions(handle, r); });
    sample.link = readPart<NettlebeamApiLinkStatus>(
        [&](NettlebeamApiLinkStatus* r) { return NettlebeamAPIGetLinkStatus(handle, r); });
    if (capabilities & (CapStatisticsV1 | CapStatisticsV2)) {
        sample.statistics = readPart<NettlebeamApiStatistics>(
            [&](NettlebeamApiStatistics* r) { return NettlebeamAPIGetStatistics(handle, r); });
    }
    if (capabilities & CapCapture) {
        sample.capture = readPart<NettlebeamApiDiskDumpStatus>([&](NettlebeamApiDiskDumpStatus* r) {
            return NettlebeamAPIDiskDumpGetStatus(handle, r);
        });
        sample.captureFramesWritten = readPart<uint64_t>(
            [&](uint64_t* r) { return NettlebeamAPIDiskDumpGetFramesWritten(handle, r); });
    }
    if (capabilities & CapTiming) {
        sample.timing = readPart<NettlebeamApiTimingStatus>(
            [&](NettlebeamApiTimingStatus* r) { return NettlebeamAPIGetTimingStatus(handle, r); });
    }
    return sample;
}

}  // namespace nettlebeam::exporter
