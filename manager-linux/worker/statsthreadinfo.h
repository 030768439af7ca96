// The request and reply record exchanged by value between the window and the
// device worker. It embeds the library's records, so it is about 4 KB; every
// queued signal copies it, which is what lets the two threads share nothing.
#pragma once

#include <QMetaType>
#include <cstdint>

#include "NettlebeamAPI.h"

constexpr std::size_t kFirmwarePathSize = 2048;

struct StatsThreadInfo {
    NettlebeamApiDeviceHandle handle = 0;
    NettlebeamApiDeviceType type = 0;
    NettlebeamApiCapabilities capabilities = 0;  // low 32 bits of the extended mask
    uint8_t mac[6] = {};                         // wire order
    NettlebeamApiLinkStatus linkStatus{};
    NettlebeamApiVersions versions{};
    NettlebeamApiStatistics statistics{};
    NettlebeamApiDiskDumpStatus captureStatus{};
    NettlebeamApiTimingStatus timingStatus{};
    // The window allocates `fileName` with malloc; only the worker's capture
    // configuration handler frees it. Copies of the record share the pointer.
    NettlebeamApiDiskDumpConfig captureConfig{};
    NettlebeamApiDeviceFeatures features{};
    NettlebeamApiTimingTime timingSet{};
    NettlebeamApiCounterV2 counterConfig{};
    NettlebeamApiPacketFilter packetFilter{};
    NettlebeamApiDpiFilter dpiFilter{};
    NettlebeamApiPacketsTypeFilter packetsTypeFilter{};
    char firmwarePath[kFirmwarePathSize] = {};  // UTF-8, NUL-terminated
    bool updateSucceeded = false;
    int32_t updateProgress = 0;  // percent
    NettlebeamApiPortsSpeed portsSpeed{};
    uint8_t extraInfo = 0;  // USB connection speed
};

// A filter request of the window, as the worker names one the device refused.
enum class FilterRequest {
    SetHeader,
    SaveHeader,
    SetPayload,
    SavePayload,
    SetPacketTypes,
    SavePacketTypes,
};

Q_DECLARE_METATYPE(StatsThreadInfo)
Q_DECLARE_METATYPE(NettlebeamApiCallbackValue_DiskDump)
Q_DECLARE_METATYPE(FilterRequest)

// Registers "StatsThreadInfo", "NettlebeamApiDeviceHandle",
// "NettlebeamApiCallbackValue_DiskDump" and "FilterRequest" for queued
// connections. Call before connecting to the worker; calling again does no harm.
void registerStatsThreadMetaTypes();
