// The record the event wait answers, wire::kEventRecordBytes long.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "device_model.h"

namespace nettlebeam::driver {

struct EventFields {
    uint32_t kind = 0;
    int32_t handle = 0;  // bytes 0-3; also bytes 12-15 for arrival and removal
    uint32_t word = 0;   // bytes 12-15 when not an arrival or removal
    bool wordGiven = false;
    int64_t error = 0;        // bytes 16-23
    std::u16string fileName;  // from byte 12, with its zero character
};

std::vector<uint8_t> makeEventRecord(const EventFields& fields);
std::vector<uint8_t> makeDeviceEvent(EventKind kind, DeviceHandle handle);

// UTF-8 to UTF-16; empty optional when the text is not valid UTF-8.
std::optional<std::u16string> utf8ToUtf16(const std::string& text);

}  // namespace nettlebeam::driver
