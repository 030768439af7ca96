// The client side of the control socket: one request on one fresh connection.
#pragma once

#include <cstdint>
#include <string>

namespace nettlebeam::wire {

constexpr int32_t kCannotOpen = -1;  // no driver listening, or no permission

// Connects to `path`, sends one request and reads its reply into `output`.
// Returns the number of bytes the driver wrote (0 or more), kCannotOpen when
// the control socket cannot be reached, or kDriverFailed when the driver failed
// the request, broke the connection or answered with a malformed reply.
// When `cancelFd` is not -1 the wait for the reply also watches it: once it is
// readable the request is abandoned and kDriverFailed returned. This is how a
// blocked event wait is stopped from another thread.
int32_t transact(const std::string& path, uint32_t code, const void* input, uint32_t inputLength,
                 void* output, uint32_t outputCapacity, int cancelFd = -1);

}  // namespace nettlebeam::wire
