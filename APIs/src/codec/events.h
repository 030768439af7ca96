// The driver's event record, wire::kEventRecordBytes long.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>

#include "NettlebeamAPI.h"

namespace nettlebeam::codec {

inline constexpr size_t kEventFileNameOffset = 12;
inline constexpr size_t kEventFileNameMaxBytes = 4096;

enum EventKindCode : uint32_t {
    kEventNewCaptureFile = 1,
    kEventDeviceArrival = 2,
    kEventDeviceRemoval = 3,
    kEventCaptureState = 4,
};

struct DeviceEvent {
    uint32_t kind = 0;  // one of EventKindCode, or another value the library ignores
    NettlebeamApiDeviceHandle handle = 0;
    uint32_t stateWord = 0;        // capture state events
    uint64_t driverErrorCode = 0;  // capture state events
    std::u16string fileName;       // new capture file events
};

// Nothing when the record is too short for its kind. A file name without a
// terminating zero ends at the record's end (or after 4096 bytes).
std::optional<DeviceEvent> decodeEvent(std::span<const uint8_t> record);

// The value handed to the capture state callbacks.
NettlebeamApiCallbackValue_DiskDump diskDumpCallbackValue(const DeviceEvent& event);

}  // namespace nettlebeam::codec
