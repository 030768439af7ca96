// Control-socket headers as both ends read them: a decoded header encodes
// back to the bytes it came from, and every accepted header is within limits.
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "frame.h"
#include "fuzz_check.h"

using namespace nettlebeam::wire;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < kHeaderSize) return 0;
    uint8_t reencoded[kHeaderSize];

    if (const auto request = decodeRequestHeader(data)) {
        FUZZ_CHECK(request->inputLength <= kMaxInputBytes);
        FUZZ_CHECK(request->outputCapacity <= kMaxOutputBytes);
        encodeRequestHeader(*request, reencoded);
        FUZZ_CHECK(std::memcmp(reencoded, data, kHeaderSize) == 0);
    }

    // The capacity the reader asked for comes from the bytes after the header.
    uint32_t capacity = kMaxOutputBytes;
    if (size >= kHeaderSize + 4) std::memcpy(&capacity, data + kHeaderSize, 4);
    if (const auto reply = decodeReplyHeader(data, capacity)) {
        if (reply->result < 0) {
            FUZZ_CHECK(reply->length == 0);
        } else {
            FUZZ_CHECK(static_cast<uint32_t>(reply->result) == reply->length);
            FUZZ_CHECK(reply->length <= capacity);
        }
        encodeReplyHeader(*reply, reencoded);
        // The reserved word is not checked on input; everything before it must match.
        FUZZ_CHECK(std::memcmp(reencoded, data, kHeaderSize - 4) == 0);
    }
    return 0;
}
