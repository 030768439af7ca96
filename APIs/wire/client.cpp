#include "client.h"

#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/uio.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>

#include "control_trust.h"
#include "frame.h"

namespace nettlebeam::wire {

namespace {

// When a request must be done, and what else ends its waits early.
class Limit {
  public:
    Limit(int cancelFd, ReplyWait replyWait)
        : cancelFd_(cancelFd), end_(std::chrono::steady_clock::now() + kRequestTimeout) {
        replyBounded_ = replyWait == ReplyWait::Bounded;
    }
    int cancelFd() const { return cancelFd_; }
    // Bytes moved: the time starts again, so that a large reply that keeps
    // coming is never cut, while one that stops is given up like silence.
    void progressed() const { end_ = std::chrono::steady_clock::now() + kRequestTimeout; }
    // Milliseconds left for poll (rounded up so a wait never spins at 0), or
    // -1 for no limit; 0 once the time is up.
    int pollTimeout(bool replyPhase) const {
        if (replyPhase && !replyBounded_) return -1;
        const auto left =
            std::chrono::ceil<std::chrono::milliseconds>(end_ - std::chrono::steady_clock::now());
        return left.count() > 0 ? static_cast<int>(left.count()) : 0;
    }

  private:
    int cancelFd_;
    mutable std::chrono::steady_clock::time_point end_;
    bool replyBounded_ = true;
};

enum class Wait { Ready, Cancelled, TimedOut, Failed };

// Waits until `fd` shows `events`, the cancel descriptor is readable or the
// time is up.
Wait waitFor(int fd, short events, const Limit& limit, bool replyPhase) {
    pollfd fds[2] = {{fd, events, 0}, {limit.cancelFd(), POLLIN, 0}};
    const nfds_t count = limit.cancelFd() >= 0 ? 2 : 1;
    for (;;) {
        const int timeout = limit.pollTimeout(replyPhase);
        int ready = poll(fds, count, timeout);
        if (ready < 0) {
            if (errno == EINTR) continue;
            return Wait::Failed;
        }
        if (count == 2 && fds[1].revents != 0) return Wait::Cancelled;
        if (ready > 0) return Wait::Ready;
        if (timeout == 0) return Wait::TimedOut;
    }
}

std::string whyWaitEnded(Wait wait) {
    switch (wait) {
        case Wait::Cancelled:
            return "the request was cancelled";
        case Wait::TimedOut:
            return "no answer within " +
                   std::to_string(
                       std::chrono::duration_cast<std::chrono::seconds>(kRequestTimeout).count()) +
                   " seconds";
        case Wait::Failed:
        case Wait::Ready:
            break;
    }
    return std::string("poll failed: ") + std::strerror(errno);
}

// A connection attempt to a listener whose queue is full fails at once on a
// non-blocking socket; it is tried again at this pace until the time is up.
constexpr int kConnectRetryMs = 10;

// Connects to the control socket once it has passed the checks of
// control_trust.h: the socket file before connecting, the process that
// listens on it after. The connection does not block. -1 with the reason in
// `why` otherwise.
int connectTo(const std::string& path, const Limit& limit, std::string& why) {
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (path.empty() || path.size() >= sizeof(address.sun_path)) {
        why = "the path is empty or too long for a socket";
        return -1;
    }
    std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
    const uid_t me = geteuid();
    struct stat info {};
    if (lstat(path.c_str(), &info) != 0) {
        why = std::strerror(errno);
        return -1;
    }
    if (why = untrustedSocket(info, me); !why.empty()) return -1;
    UniqueFd fd(socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
    if (!fd.valid()) {
        why = std::string("cannot create a socket: ") + std::strerror(errno);
        return -1;
    }
    while (connect(fd.get(), reinterpret_cast<sockaddr*>(&address), sizeof(address)) != 0) {
        if (errno == EINTR) continue;
        if (errno != EAGAIN) {
            why = std::strerror(errno);
            return -1;
        }
        // The listener's queue is full (a driver that stopped taking
        // connections, or a busy one): wait a moment unless the time is up.
        const int left = limit.pollTimeout(false);
        if (left == 0) {
            why = "the connection was not taken: " + whyWaitEnded(Wait::TimedOut);
            return -1;
        }
        pollfd cancel{limit.cancelFd(), POLLIN, 0};
        if (poll(&cancel, limit.cancelFd() >= 0 ? 1 : 0, std::min(left, kConnectRetryMs)) > 0) {
            why = whyWaitEnded(Wait::Cancelled);
            return -1;
        }
    }
    // The file may have been swapped since lstat: who listens is what counts.
    ucred peer{};
    socklen_t length = sizeof(peer);
    if (getsockopt(fd.get(), SOL_SOCKET, SO_PEERCRED, &peer, &length) != 0) {
        why = std::string("cannot tell who answers: ") + std::strerror(errno);
        return -1;
    }
    if (why = untrustedPeer(peer.uid, me); !why.empty()) return -1;
    return fd.release();
}

bool sendAll(int fd, iovec* parts, int count, const Limit& limit, std::string& why) {
    while (count > 0) {
        msghdr message{};
        message.msg_iov = parts;
        message.msg_iovlen = static_cast<size_t>(count);
        ssize_t sent = sendmsg(fd, &message, MSG_NOSIGNAL);
        if (sent < 0) {
            if (errno == EINTR) continue;
            if (errno != EAGAIN) {
                why = std::string("cannot send the request: ") + std::strerror(errno);
                return false;
            }
            // Nobody reads on the other end yet.
            if (Wait wait = waitFor(fd, POLLOUT, limit, false); wait != Wait::Ready) {
                why = whyWaitEnded(wait);
                return false;
            }
            continue;
        }
        if (sent > 0) limit.progressed();
        auto remaining = static_cast<size_t>(sent);
        while (count > 0 && remaining >= parts->iov_len) {
            remaining -= parts->iov_len;
            ++parts;
            --count;
        }
        if (count > 0) {
            parts->iov_base = static_cast<uint8_t*>(parts->iov_base) + remaining;
            parts->iov_len -= remaining;
        }
    }
    return true;
}

// Receives exactly `length` bytes, and with them the descriptors that come
// along when `descriptors` is given (more than `maxDescriptors` or cut-short
// ancillary data make the reply unsound).
bool receiveAll(int fd, uint8_t* buffer, size_t length, const Limit& limit, std::string& why,
                std::vector<UniqueFd>* descriptors = nullptr, size_t maxDescriptors = 0) {
    // Room for a few more than expected, so that too many are seen and closed.
    alignas(cmsghdr) uint8_t control[CMSG_SPACE(sizeof(int) * 8)];
    bool sound = true;
    while (length > 0) {
        iovec part{buffer, length};
        msghdr message{};
        message.msg_iov = &part;
        message.msg_iovlen = 1;
        if (descriptors != nullptr) {
            message.msg_control = control;
            message.msg_controllen = sizeof(control);
        }
        ssize_t got = recvmsg(fd, &message, MSG_CMSG_CLOEXEC);
        if (got < 0) {
            if (errno == EINTR) continue;
            if (errno != EAGAIN) {
                why = std::string("cannot read the reply: ") + std::strerror(errno);
                return false;
            }
            if (Wait wait = waitFor(fd, POLLIN, limit, true); wait != Wait::Ready) {
                why = whyWaitEnded(wait);
                return false;
            }
            continue;
        }
        if (got > 0) limit.progressed();
        if (descriptors != nullptr) {
            for (cmsghdr* c = CMSG_FIRSTHDR(&message); c != nullptr; c = CMSG_NXTHDR(&message, c)) {
                if (c->cmsg_level != SOL_SOCKET || c->cmsg_type != SCM_RIGHTS) continue;
                const size_t count = (c->cmsg_len - CMSG_LEN(0)) / sizeof(int);
                for (size_t i = 0; i < count; ++i) {
                    int received;
                    std::memcpy(&received, CMSG_DATA(c) + i * sizeof(int), sizeof(int));
                    descriptors->emplace_back(received);
                }
            }
            if ((message.msg_flags & MSG_CTRUNC) != 0 || descriptors->size() > maxDescriptors)
                sound = false;
        }
        if (got == 0) {
            why = "the driver closed the connection before its reply was complete";
            return false;
        }
        buffer += got;
        length -= static_cast<size_t>(got);
    }
    if (!sound) why = "the reply brought more descriptors than expected";
    return sound;
}

// One request on a fresh connection up to its reply's bytes; the connection
// stays open in `connection`. kCannotOpen, kDriverFailed or the reply's result.
int32_t exchange(const std::string& path, uint32_t code, const void* input, uint32_t inputLength,
                 void* output, uint32_t outputCapacity, const Limit& limit, std::string& why,
                 UniqueFd& connection, std::vector<UniqueFd>* descriptors = nullptr,
                 size_t maxDescriptors = 0) {
    if (inputLength > kMaxInputBytes) {
        why = "the input is longer than a request may carry";
        return kDriverFailed;
    }
    if (outputCapacity > kMaxOutputBytes) outputCapacity = kMaxOutputBytes;
    if (output == nullptr) outputCapacity = 0;

    connection.reset(connectTo(path, limit, why));
    if (!connection.valid()) return kCannotOpen;

    uint8_t header[kHeaderSize];
    encodeRequestHeader({code, inputLength, outputCapacity}, header);
    iovec parts[2] = {{header, kHeaderSize}, {const_cast<void*>(input), inputLength}};
    if (!sendAll(connection.get(), parts, inputLength > 0 ? 2 : 1, limit, why))
        return kDriverFailed;

    uint8_t replyBytes[kHeaderSize];
    if (!receiveAll(connection.get(), replyBytes, kHeaderSize, limit, why, descriptors,
                    maxDescriptors))
        return kDriverFailed;
    auto reply = decodeReplyHeader(replyBytes, outputCapacity);
    if (!reply) {
        why = "the reply is malformed";
        return kDriverFailed;
    }
    // The driver failed the request: nothing wrong with the transport.
    if (reply->result < 0) return kDriverFailed;
    if (!receiveAll(connection.get(), static_cast<uint8_t*>(output), reply->length, limit, why,
                    descriptors, maxDescriptors))
        return kDriverFailed;
    return reply->result;
}

}  // namespace

void UniqueFd::reset(int fd) {
    if (fd_ >= 0) close(fd_);
    fd_ = fd;
}

DescriptorReply transactWithDescriptors(const std::string& path, uint32_t code, const void* input,
                                        uint32_t inputLength, void* output, uint32_t outputCapacity,
                                        size_t maxDescriptors) {
    DescriptorReply out;
    std::string why;
    std::vector<UniqueFd> descriptors;
    UniqueFd connection;
    const int32_t result =
        exchange(path, code, input, inputLength, output, outputCapacity,
                 Limit(-1, ReplyWait::Bounded), why, connection, &descriptors, maxDescriptors);
    // Only a complete reply hands its descriptors on; the rest close here.
    if (result < 0) {
        out.result = result == kCannotOpen ? kCannotOpen : kDriverFailed;
        return out;
    }
    out.result = result;
    out.descriptors = std::move(descriptors);
    out.connection = std::move(connection);
    return out;
}

int32_t transact(const std::string& path, uint32_t code, const void* input, uint32_t inputLength,
                 void* output, uint32_t outputCapacity, int cancelFd, std::string* why,
                 ReplyWait replyWait) {
    std::string reason;
    UniqueFd connection;
    const int32_t result = exchange(path, code, input, inputLength, output, outputCapacity,
                                    Limit(cancelFd, replyWait), reason, connection);
    if (why != nullptr) *why = reason;
    return result;
}

}  // namespace nettlebeam::wire
