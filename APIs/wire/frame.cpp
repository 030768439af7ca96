#include "frame.h"

#include "byte_order.h"

namespace nettlebeam::wire {

void encodeRequestHeader(const RequestHeader& header, uint8_t out[kHeaderSize]) {
    const std::span<uint8_t> bytes(out, kHeaderSize);
    writeLe32(bytes, 0, kRequestMagic);
    writeLe32(bytes, 4, header.code);
    writeLe32(bytes, 8, header.inputLength);
    writeLe32(bytes, 12, header.outputCapacity);
}

std::optional<RequestHeader> decodeRequestHeader(const uint8_t in[kHeaderSize]) {
    const std::span<const uint8_t> bytes(in, kHeaderSize);
    if (readLe32(bytes, 0) != kRequestMagic) return std::nullopt;
    RequestHeader header{readLe32(bytes, 4), readLe32(bytes, 8), readLe32(bytes, 12)};
    if (header.inputLength > kMaxInputBytes || header.outputCapacity > kMaxOutputBytes)
        return std::nullopt;
    return header;
}

void encodeReplyHeader(const ReplyHeader& header, uint8_t out[kHeaderSize]) {
    const std::span<uint8_t> bytes(out, kHeaderSize);
    writeLe32(bytes, 0, kReplyMagic);
    writeLe32(bytes, 4, static_cast<uint32_t>(header.result));
    writeLe32(bytes, 8, header.length);
    writeLe32(bytes, 12, 0);
}

std::optional<ReplyHeader> decodeReplyHeader(const uint8_t in[kHeaderSize],
                                             uint32_t outputCapacity) {
    const std::span<const uint8_t> bytes(in, kHeaderSize);
    if (readLe32(bytes, 0) != kReplyMagic) return std::nullopt;
    ReplyHeader header{static_cast<int32_t>(readLe32(bytes, 4)), readLe32(bytes, 8)};
    if (header.result < 0) {
        if (header.length != 0) return std::nullopt;
    } else if (static_cast<uint32_t>(header.result) != header.length ||
               header.length > outputCapacity) {
        return std::nullopt;
    }
    return header;
}

}  // namespace nettlebeam::wire
