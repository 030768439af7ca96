#include "client.h"

#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/uio.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "control_trust.h"
#include "frame.h"

namespace nettlebeam::wire {

namespace {

class Connection {
  public:
    explicit Connection(int fd) : fd_(fd) {}
    ~Connection() {
        if (fd_ >= 0) close(fd_);
    }
    Connection(const Connection&) = delete;
    Connection& operator=(const Connection&) = delete;
    int fd() const { return fd_; }

  private:
    int fd_;
};

// Connects to the control socket once it has passed the checks of
// control_trust.h: the socket file before connecting, the process that
// listens on it after. -1 with the reason in `why` otherwise.
int connectTo(const std::string& path, std::string& why) {
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
    int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        why = std::string("cannot create a socket: ") + std::strerror(errno);
        return -1;
    }
    if (connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof(address)) != 0) {
        why = std::strerror(errno);
        close(fd);
        return -1;
    }
    // The file may have been swapped since lstat: who listens is what counts.
    ucred peer{};
    socklen_t length = sizeof(peer);
    if (getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &peer, &length) != 0) {
        why = std::string("cannot tell who answers: ") + std::strerror(errno);
        close(fd);
        return -1;
    }
    if (why = untrustedPeer(peer.uid, me); !why.empty()) {
        close(fd);
        return -1;
    }
    return fd;
}

bool sendAll(int fd, iovec* parts, int count) {
    while (count > 0) {
        msghdr message{};
        message.msg_iov = parts;
        message.msg_iovlen = static_cast<size_t>(count);
        ssize_t sent = sendmsg(fd, &message, MSG_NOSIGNAL);
        if (sent < 0) {
            if (errno == EINTR) continue;
            return false;
        }
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

// Waits until the socket is readable; false when cancelled or on error.
bool waitReadable(int fd, int cancelFd) {
    if (cancelFd < 0) return true;
    pollfd fds[2] = {{fd, POLLIN, 0}, {cancelFd, POLLIN, 0}};
    for (;;) {
        int ready = poll(fds, 2, -1);
        if (ready < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        if (fds[1].revents != 0) return false;
        return true;
    }
}

bool receiveAll(int fd, uint8_t* buffer, size_t length, int cancelFd) {
    while (length > 0) {
        if (!waitReadable(fd, cancelFd)) return false;
        ssize_t got = recv(fd, buffer, length, 0);
        if (got < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        if (got == 0) return false;
        buffer += got;
        length -= static_cast<size_t>(got);
    }
    return true;
}

// Like receiveAll, also taking the descriptors that come along with the bytes.
bool receiveWithDescriptors(int fd, uint8_t* buffer, size_t length, size_t maxDescriptors,
                            std::vector<UniqueFd>& descriptors) {
    // Room for a few more than expected, so that too many are seen and closed.
    alignas(cmsghdr) uint8_t control[CMSG_SPACE(sizeof(int) * 8)];
    bool sound = true;
    while (length > 0) {
        iovec part{buffer, length};
        msghdr message{};
        message.msg_iov = &part;
        message.msg_iovlen = 1;
        message.msg_control = control;
        message.msg_controllen = sizeof(control);
        ssize_t got = recvmsg(fd, &message, MSG_CMSG_CLOEXEC);
        if (got < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        for (cmsghdr* c = CMSG_FIRSTHDR(&message); c != nullptr; c = CMSG_NXTHDR(&message, c)) {
            if (c->cmsg_level != SOL_SOCKET || c->cmsg_type != SCM_RIGHTS) continue;
            const size_t count = (c->cmsg_len - CMSG_LEN(0)) / sizeof(int);
            for (size_t i = 0; i < count; ++i) {
                int received;
                std::memcpy(&received, CMSG_DATA(c) + i * sizeof(int), sizeof(int));
                descriptors.emplace_back(received);
            }
        }
        if ((message.msg_flags & MSG_CTRUNC) != 0 || descriptors.size() > maxDescriptors)
            sound = false;
        if (got == 0) return false;
        buffer += got;
        length -= static_cast<size_t>(got);
    }
    return sound;
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
    if (inputLength > kMaxInputBytes) return out;
    if (outputCapacity > kMaxOutputBytes) outputCapacity = kMaxOutputBytes;
    if (output == nullptr) outputCapacity = 0;

    std::string why;
    UniqueFd connection(connectTo(path, why));
    if (!connection.valid()) {
        out.result = kCannotOpen;
        return out;
    }
    uint8_t header[kHeaderSize];
    encodeRequestHeader({code, inputLength, outputCapacity}, header);
    iovec parts[2] = {{header, kHeaderSize}, {const_cast<void*>(input), inputLength}};
    if (!sendAll(connection.get(), parts, inputLength > 0 ? 2 : 1)) return out;

    std::vector<UniqueFd> descriptors;
    uint8_t replyBytes[kHeaderSize];
    if (!receiveWithDescriptors(connection.get(), replyBytes, kHeaderSize, maxDescriptors,
                                descriptors))
        return out;
    auto reply = decodeReplyHeader(replyBytes, outputCapacity);
    if (!reply || reply->result < 0) return out;
    if (!receiveWithDescriptors(connection.get(), static_cast<uint8_t*>(output), reply->length,
                                maxDescriptors, descriptors))
        return out;
    out.result = reply->result;
    out.descriptors = std::move(descriptors);
    out.connection = std::move(connection);
    return out;
}

int32_t transact(const std::string& path, uint32_t code, const void* input, uint32_t inputLength,
                 void* output, uint32_t outputCapacity, int cancelFd, std::string* whyCannotOpen) {
    if (inputLength > kMaxInputBytes) return kDriverFailed;
    if (outputCapacity > kMaxOutputBytes) outputCapacity = kMaxOutputBytes;
    if (output == nullptr) outputCapacity = 0;

    std::string why;
    Connection connection(connectTo(path, why));
    if (connection.fd() < 0) {
        if (whyCannotOpen != nullptr) *whyCannotOpen = why;
        return kCannotOpen;
    }

    uint8_t header[kHeaderSize];
    encodeRequestHeader({code, inputLength, outputCapacity}, header);
    iovec parts[2] = {{header, kHeaderSize}, {const_cast<void*>(input), inputLength}};
    if (!sendAll(connection.fd(), parts, inputLength > 0 ? 2 : 1)) return kDriverFailed;

    uint8_t replyBytes[kHeaderSize];
    if (!receiveAll(connection.fd(), replyBytes, kHeaderSize, cancelFd)) return kDriverFailed;
    auto reply = decodeReplyHeader(replyBytes, outputCapacity);
    if (!reply) return kDriverFailed;
    if (reply->result < 0) return kDriverFailed;
    if (!receiveAll(connection.fd(), static_cast<uint8_t*>(output), reply->length, cancelFd))
        return kDriverFailed;
    return reply->result;
}

}  // namespace nettlebeam::wire
