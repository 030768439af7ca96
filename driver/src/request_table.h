// What the driver expects of every device request: the payload after the
// handle and the reply size. The server refuses anything else before a device
// sees it.
#pragma once

#include <cstdint>
#include <optional>

#include "request_codes.h"

namespace nettlebeam::driver {

enum class PayloadRule {
    None,           // the handle only
    Fixed,          // exactly `payloadBytes`
    FirmwareBlock,  // 1 to wire::kMaxFirmwareBlockBytes
    FileName,       // UTF-16 with its terminating zero character
};

enum class ReplyRule {
    None,          // nothing comes back; any capacity is fine
    Fixed,         // exactly `replyBytes`; the capacity must hold them
    CallerBuffer,  // as much as the caller's buffer holds
};

struct RequestShape {
    bool carriesHandle = true;
    PayloadRule payload = PayloadRule::None;
    uint32_t payloadBytes = 0;
    ReplyRule reply = ReplyRule::None;
    uint32_t replyBytes = 0;
};

constexpr uint32_t kMaxFileNameBytes = 2 * 4096;

// Empty for a code outside the table.
std::optional<RequestShape> requestShape(uint32_t code);

// True when a payload of `length` bytes (after the handle) fits the rule;
// `payload` is needed for the file-name rule.
bool payloadFits(const RequestShape& shape, const uint8_t* payload, uint32_t length);

// True when a reply buffer of `capacity` bytes is large enough for the code.
bool capacityFits(const RequestShape& shape, uint32_t capacity);

}  // namespace nettlebeam::driver
