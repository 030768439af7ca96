#include "driver_channel.h"

#include <array>
#include <cstring>
#include <vector>

#include "byte_order.h"
#include "client.h"
#include "control_path.h"
#include "frame.h"

namespace nettlebeam::api {

namespace {

// Most inputs are a handle and a few bytes; only file names and firmware blocks
// are larger, and they go to the heap.
constexpr size_t kInlineInputBytes = 256;

// The descriptor whose readability abandons this thread's requests; -1 for none.
thread_local int threadCancelFd = -1;

int32_t transactAndClear(const std::string& path, uint32_t code, const void* input,
                         uint32_t inputLength, void* reply, uint32_t replyCapacity,
                         wire::ReplyWait replyWait) {
    int32_t result = wire::transact(path, code, input, inputLength, reply, replyCapacity,
                                    threadCancelFd, nullptr, replyWait);
    if (result == 0 && reply != nullptr && replyCapacity > 0) std::memset(reply, 0, replyCapacity);
    return result;
}

}  // namespace

int32_t sendRequest(int32_t handle, uint32_t code, const void* payload, uint32_t payloadLength,
                    void* reply, uint32_t replyCapacity) {
    if (payload == nullptr) payloadLength = 0;
    const size_t inputLength = size_t{payloadLength} + 4;
    if (inputLength > wire::kMaxInputBytes) return kTransportDriverFailed;

    std::array<uint8_t, kInlineInputBytes> inlineInput;
    std::vector<uint8_t> heapInput;
    uint8_t* input = inlineInput.data();
    if (inputLength > inlineInput.size()) {
        heapInput.resize(inputLength);
        input = heapInput.data();
    }
    wire::writeLe32(std::span<uint8_t>(input, inputLength), 0, static_cast<uint32_t>(handle));
    if (payloadLength > 0) std::memcpy(input + 4, payload, payloadLength);
    return transactAndClear(wire::controlPath(), code, input, static_cast<uint32_t>(inputLength),
                            reply, replyCapacity, wire::ReplyWait::Bounded);
}

int32_t sendUnaddressed(uint32_t code, void* reply, uint32_t replyCapacity,
                        wire::ReplyWait replyWait) {
    return transactAndClear(wire::controlPath(), code, nullptr, 0, reply, replyCapacity, replyWait);
}

CancelScope::CancelScope(int cancelFd) {
    threadCancelFd = cancelFd;
}

CancelScope::~CancelScope() {
    threadCancelFd = -1;
}

}  // namespace nettlebeam::api
