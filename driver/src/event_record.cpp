#include "event_record.h"

#include <algorithm>
#include <optional>

#include "byte_order.h"
#include "request_codes.h"

namespace nettlebeam::driver {

std::vector<uint8_t> makeEventRecord(const EventFields& fields) {
    std::vector<uint8_t> record(wire::kEventRecordBytes, 0);
    wire::writeLe32(record, 0, static_cast<uint32_t>(fields.handle));
    wire::writeLe32(record, 4, fields.kind);
    bool aboutDevice = fields.kind == static_cast<uint32_t>(EventKind::DeviceArrival) ||
                       fields.kind == static_cast<uint32_t>(EventKind::DeviceRemoval);
    if (!fields.fileName.empty()) {
        // The name and its zero character must stay inside the record.
        size_t chars =
            std::min<size_t>(fields.fileName.size(), (wire::kEventRecordBytes - 12) / 2 - 1);
        for (size_t i = 0; i < chars; ++i) {
            wire::writeLe16(record, 12 + 2 * i, fields.fileName[i]);
        }
        return record;
    }
    wire::writeLe32(
        record, 12,
        fields.wordGiven || !aboutDevice ? fields.word : static_cast<uint32_t>(fields.handle));
    auto error = static_cast<uint64_t>(fields.error);
    wire::writeLe32(record, 16, static_cast<uint32_t>(error));
    wire::writeLe32(record, 20, static_cast<uint32_t>(error >> 32));
    return record;
}

std::vector<uint8_t> makeDeviceEvent(EventKind kind, DeviceHandle handle) {
    EventFields fields;
    fields.kind = static_cast<uint32_t>(kind);
    fields.handle = handle;
    return makeEventRecord(fields);
}

std::optional<std::u16string> utf8ToUtf16(const std::string& text) {
    std::u16string out;
    for (size_t i = 0; i < text.size();) {
        auto lead = static_cast<uint8_t>(text[i]);
        size_t extra = lead < 0x80           ? 0
                       : (lead >> 5) == 0x6  ? 1
                       : (lead >> 4) == 0xE  ? 2
                       : (lead >> 3) == 0x1E ? 3
                                             : 4;
        if (extra == 4 || i + extra >= text.size() + (extra == 0 ? 1 : 0)) return std::nullopt;
        uint32_t code = extra == 0 ? lead : lead & (0x3F >> extra);
        for (size_t k = 1; k <= extra; ++k) {
            auto next = static_cast<uint8_t>(text[i + k]);
            if ((next & 0xC0) != 0x80) return std::nullopt;
            code = code << 6 | (next & 0x3F);
        }
        if (code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF)) return std::nullopt;
        if (code >= 0x10000) {
            code -= 0x10000;
            out.push_back(static_cast<char16_t>(0xD800 + (code >> 10)));
            out.push_back(static_cast<char16_t>(0xDC00 + (code & 0x3FF)));
        } else {
            out.push_back(static_cast<char16_t>(code));
        }
        i += extra + 1;
    }
    return out;
}

}  // namespace nettlebeam::driver
