// The client side of the control socket: one request on one fresh connection.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "frame.h"

namespace nettlebeam::wire {

// No driver listening, no permission, or a socket or a process on it that
// fails the checks of control_trust.h.
constexpr int32_t kCannotOpen = -1;

// A driver that is stopped, or a process that accepts and never reads, must
// not hold a caller forever: no step of a request (connecting, sending,
// waiting for the reply) waits longer than this without a byte moving. A
// driver answers in milliseconds; the longest it takes on purpose (closing a
// direct capture's files) stays well within it, and a large reply that keeps
// coming is never cut.
constexpr std::chrono::milliseconds kRequestTimeout{5000};

// How long the reply may take.
enum class ReplyWait {
    Bounded,   // no wait longer than kRequestTimeout without a byte moving
    LongPoll,  // as long as it takes (the event wait): only `cancelFd` ends it
};

// Connects to `path`, sends one request and reads its reply into `output`.
// Returns the number of bytes the driver wrote (0 or more), kCannotOpen when
// the control socket cannot be reached (or no connection is taken within
// kRequestTimeout), or kDriverFailed when the driver failed the request, broke
// the connection, answered with a malformed reply or did not answer in time.
// When `cancelFd` is not -1 every wait also watches it: once it is readable
// the request is abandoned and kDriverFailed (kCannotOpen while connecting)
// returned. This is how a blocked request is stopped from another thread.
// On a failure, `why` (when given) says which step or check failed.
int32_t transact(const std::string& path, uint32_t code, const void* input, uint32_t inputLength,
                 void* output, uint32_t outputCapacity, int cancelFd = -1,
                 std::string* why = nullptr, ReplyWait replyWait = ReplyWait::Bounded);

// A descriptor closed when its owner goes.
class UniqueFd {
  public:
    UniqueFd() = default;
    explicit UniqueFd(int fd) : fd_(fd) {}
    ~UniqueFd() { reset(); }
    UniqueFd(UniqueFd&& other) noexcept : fd_(other.release()) {}
    UniqueFd& operator=(UniqueFd&& other) noexcept {
        if (this != &other) {
            reset();
            fd_ = other.release();
        }
        return *this;
    }
    UniqueFd(const UniqueFd&) = delete;
    UniqueFd& operator=(const UniqueFd&) = delete;

    int get() const { return fd_; }
    bool valid() const { return fd_ >= 0; }
    int release() {
        int fd = fd_;
        fd_ = -1;
        return fd;
    }
    void reset(int fd = -1);

  private:
    int fd_ = -1;
};

// The reply of a request that hands descriptors over (SCM_RIGHTS).
struct DescriptorReply {
    int32_t result = kDriverFailed;  // as transact returns it
    std::vector<UniqueFd> descriptors;
    // Still open: the driver keeps its end open for as long as what it shared
    // stays valid, and closes it (or dies) otherwise.
    UniqueFd connection;
};

// transact for a request whose reply brings descriptors (bounded like any
// request other than a long poll). The result is
// kDriverFailed, with every received descriptor closed, when more than
// `maxDescriptors` come or the ancillary data was cut short.
DescriptorReply transactWithDescriptors(const std::string& path, uint32_t code, const void* input,
                                        uint32_t inputLength, void* output, uint32_t outputCapacity,
                                        size_t maxDescriptors);

}  // namespace nettlebeam::wire
