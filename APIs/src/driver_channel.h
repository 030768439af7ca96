// The driver channel: one request to the control device of nettlebeamd.
//
// Every request opens a fresh connection and closes it afterwards, so a request
// made right after an arrival or removal sees the driver's current state, and
// requests from different threads run in parallel without any serialisation.
#pragma once

#include <cstdint>

#include "client.h"

namespace nettlebeam::api {

// Transport results besides a byte count (0 or more).
// No driver listening, no permission, or a control socket (or a process
// listening on it) of another user than the caller's or root.
constexpr int32_t kTransportCannotOpen = -1;
// The driver failed the request, broke the connection or did not answer in time.
constexpr int32_t kTransportDriverFailed = -2;

// Sends `code` about `handle`: the input is the handle (32-bit little-endian)
// followed by the payload. Returns the number of bytes the driver wrote into
// `reply`, or one of the transport failures above. A reply of 0 bytes leaves
// `reply` zero-filled, so callers never decode stale bytes.
int32_t sendRequest(int32_t handle, uint32_t code, const void* payload, uint32_t payloadLength,
                    void* reply, uint32_t replyCapacity);

inline int32_t sendCommand(int32_t handle, uint32_t code, const void* payload = nullptr,
                           uint32_t payloadLength = 0) {
    return sendRequest(handle, code, payload, payloadLength, nullptr, 0);
}

// Sends a request that concerns no device (enumeration, event wait): no input
// at all. Its reply comes within the transport's time limit unless `replyWait`
// makes it a long poll.
int32_t sendUnaddressed(uint32_t code, void* reply, uint32_t replyCapacity,
                        wire::ReplyWait replyWait = wire::ReplyWait::Bounded);

// While one lives, every request of the thread that made it is abandoned with
// kTransportDriverFailed as soon as `cancelFd` is readable: the monitor thread
// runs under one, so stopping it never waits for the driver. Not nested.
class CancelScope {
  public:
    explicit CancelScope(int cancelFd);
    ~CancelScope();
    CancelScope(const CancelScope&) = delete;
    CancelScope& operator=(const CancelScope&) = delete;
};

// The three ways a transport result becomes an export's status.
// Requests without a reply: anything but 0 bytes is a failure.
inline int32_t commandStatus(int32_t transport) {
    return transport == 0 ? 0 : -1;
}
// Requests whose result is the status as it stands (0, -1 or -2).
inline int32_t passThroughStatus(int32_t transport) {
    return transport;
}
// Requests with a reply of known size: the full size or 0 bytes go on to be
// decoded; anything else (failures, short counts) is returned unchanged.
inline bool isExactReply(int32_t transport, int32_t expectedBytes) {
    return transport == expectedBytes || transport == 0;
}

}  // namespace nettlebeam::api
