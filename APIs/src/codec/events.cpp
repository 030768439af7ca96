#include "codec/events.h"

#include <algorithm>

#include "byte_order.h"
#include "codec/capture.h"

namespace nettlebeam::codec {
namespace {

constexpr size_t kKindOffset = 4;
constexpr size_t kSubjectHandleOffset = 12;
constexpr size_t kStateWordOffset = 12;
constexpr size_t kErrorCodeOffset = 16;

std::u16string readFileName(std::span<const uint8_t> record) {
    const size_t available = record.size() - std::min(record.size(), kEventFileNameOffset);
    const size_t units = std::min(available, kEventFileNameMaxBytes) / 2;
    std::u16string name;
    for (size_t i = 0; i < units; ++i) {
        const char16_t unit = wire::readLe16(record, kEventFileNameOffset + 2 * i);
        if (unit == 0) break;
        name.push_back(unit);
    }
    return name;
}

}  // namespace

std::optional<DeviceEvent> decodeEvent(std::span<const uint8_t> record) {
    if (record.size() < kKindOffset + 4) return std::nullopt;
    DeviceEvent event;
    event.kind = wire::readLe32(record, kKindOffset);
    event.handle = static_cast<NettlebeamApiDeviceHandle>(wire::readLe32(record, 0));
    switch (event.kind) {
        case kEventNewCaptureFile:
            event.fileName = readFileName(record);
            break;
        case kEventDeviceArrival:
        case kEventDeviceRemoval:
            if (record.size() < kSubjectHandleOffset + 4) return std::nullopt;
            event.handle = static_cast<NettlebeamApiDeviceHandle>(
                wire::readLe32(record, kSubjectHandleOffset));
            break;
        case kEventCaptureState:
            if (record.size() < kErrorCodeOffset + 8) return std::nullopt;
            event.stateWord = wire::readLe32(record, kStateWordOffset);
            event.driverErrorCode = wire::readLe64(record, kErrorCodeOffset);
            break;
        default:
            break;
    }
    return event;
}

NettlebeamApiCallbackValue_DiskDump diskDumpCallbackValue(const DeviceEvent& event) {
    NettlebeamApiCallbackValue_DiskDump value{};
    value.enabled = event.stateWord != 0 ? 1 : 0;
    value.error = captureErrorStatus(event.driverErrorCode);
    return value;
}

}  // namespace nettlebeam::codec
