// Framing of one request and its reply on the control socket.
//
// A connection carries exactly one request:
//   request: magic "NBRQ" | code | input length | output capacity   (4 x u32 LE)
//            then the input bytes (device handle first, then the payload)
//   reply:   magic "NBRP" | result (i32) | length | reserved 0      (4 x u32 LE)
//            then `length` bytes
// A result of 0 or more is the number of bytes the driver wrote and equals
// `length`, which never exceeds the requested output capacity. A negative
// result means the driver failed the request; no bytes follow.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>

namespace nettlebeam::wire {

constexpr uint32_t kRequestMagic = 0x5152424E;  // "NBRQ" in memory order
constexpr uint32_t kReplyMagic = 0x5052424E;    // "NBRP"
constexpr size_t kHeaderSize = 16;
// Inputs are small (a 508-byte firmware block or a path name at most); replies
// go up to the size of a memory-capture buffer.
constexpr uint32_t kMaxInputBytes = 64 * 1024;
constexpr uint32_t kMaxOutputBytes = 64 * 1024 * 1024;
// The result the driver sends when it fails a request.
constexpr int32_t kDriverFailed = -2;

struct RequestHeader {
    uint32_t code = 0;
    uint32_t inputLength = 0;
    uint32_t outputCapacity = 0;
};

struct ReplyHeader {
    int32_t result = kDriverFailed;
    uint32_t length = 0;
};

void encodeRequestHeader(const RequestHeader& header, uint8_t out[kHeaderSize]);
// Empty when the magic is wrong or a length is beyond the limits above.
std::optional<RequestHeader> decodeRequestHeader(const uint8_t in[kHeaderSize]);

void encodeReplyHeader(const ReplyHeader& header, uint8_t out[kHeaderSize]);
// Empty when the magic is wrong, the length disagrees with the result, or the
// reply is larger than the capacity that was asked for.
std::optional<ReplyHeader> decodeReplyHeader(const uint8_t in[kHeaderSize],
                                             uint32_t outputCapacity);

}  // namespace nettlebeam::wire
