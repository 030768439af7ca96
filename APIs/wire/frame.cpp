#include "frame.h"

namespace nettlebeam::wire {

namespace {
void putU32(uint8_t* p, uint32_t v) {
    p[0] = static_cast<uint8_t>(v);
    p[1] = static_cast<uint8_t>(v >> 8);
    p[2] = static_cast<uint8_t>(v >> 16);
    p[3] = static_cast<uint8_t>(v >> 24);
}
uint32_t getU32(const uint8_t* p) {
    return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 |
           static_cast<uint32_t>(p[2]) << 16 | static_cast<uint32_t>(p[3]) << 24;
}
}  // namespace

void encodeRequestHeader(const RequestHeader& header, uint8_t out[kHeaderSize]) {
    putU32(out, kRequestMagic);
    putU32(out + 4, header.code);
    putU32(out + 8, header.inputLength);
    putU32(out + 12, header.outputCapacity);
}

std::optional<RequestHeader> decodeRequestHeader(const uint8_t in[kHeaderSize]) {
    if (getU32(in) != kRequestMagic) return std::nullopt;
    RequestHeader header{getU32(in + 4), getU32(in + 8), getU32(in + 12)};
    if (header.inputLength > kMaxInputBytes || header.outputCapacity > kMaxOutputBytes)
        return std::nullopt;
    return header;
}

void encodeReplyHeader(const ReplyHeader& header, uint8_t out[kHeaderSize]) {
    putU32(out, kReplyMagic);
    putU32(out + 4, static_cast<uint32_t>(header.result));
    putU32(out + 8, header.length);
    putU32(out + 12, 0);
}

std::optional<ReplyHeader> decodeReplyHeader(const uint8_t in[kHeaderSize],
                                             uint32_t outputCapacity) {
    if (getU32(in) != kReplyMagic) return std::nullopt;
    ReplyHeader header{static_cast<int32_t>(getU32(in + 4)), getU32(in + 8)};
    if (header.result < 0) {
        if (header.length != 0) return std::nullopt;
    } else if (static_cast<uint32_t>(header.result) != header.length ||
               header.length > outputCapacity) {
        return std::nullopt;
    }
    return header;
}

}  // namespace nettlebeam::wire
