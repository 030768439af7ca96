#include "request_transport.h"

#include <malloc.h>
#include <sys/epoll.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/uio.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "control_socket.h"
#include "control_trust.h"

namespace nettlebeam::driver {

namespace {

// Freed bytes after which memory is handed back to the system.
constexpr size_t kTrimAfterBytes = 4u << 20;

size_t descriptorLimit() {
    rlimit limit{};
    if (getrlimit(RLIMIT_NOFILE, &limit) != 0 || limit.rlim_cur == RLIM_INFINITY) return 65536;
    return static_cast<size_t>(limit.rlim_cur);
}

// Room is left for what devices open: capture files, replay files, shared
// memory and the descriptors passed with replies.
size_t connectionLimitFor(size_t descriptors) {
    return std::clamp<size_t>(descriptors - descriptors / 4, 8, 65536);
}

}  // namespace

RequestTransport::~RequestTransport() {
    for (auto& [fd, connection] : connections_) close(fd);
    if (listenFd_ >= 0) close(listenFd_);
}

void RequestTransport::start(int epollFd) {
    epollFd_ = epollFd;
    resumeAccepting();
    maxConnections_ = options_.maxConnections;
    if (maxConnections_ == 0) maxConnections_ = connectionLimitFor(descriptorLimit());
}

bool RequestTransport::listen(std::string& error) {
    listenFd_ = listenOnControlPath({options_.controlPath, options_.privateFolder}, error);
    if (listenFd_ < 0) return false;
    struct stat info {};
    if (lstat(options_.controlPath.c_str(), &info) == 0) socketInode_ = info.st_ino;
    return true;
}

void RequestTransport::removeSocket() {
    struct stat info {};
    // Only our own socket: a successor may already have taken the path.
    if (lstat(options_.controlPath.c_str(), &info) == 0 && info.st_ino == socketInode_)
        unlink(options_.controlPath.c_str());
}

void RequestTransport::acceptAll() {
    // A few per wake-up: the listener stays readable while more are waiting,
    // and a lone client is not made to wait for one more accept that fails.
    for (int accepted = 0; accepted < 16; ++accepted) {
        int fd = accept4(listenFd_, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
        if (fd < 0) {
            if (errno == EINTR || errno == ECONNABORTED) continue;
            if (errno == EMFILE || errno == ENFILE || errno == ENOBUFS || errno == ENOMEM)
                return pauseAccepting(errno);
            if (errno != EAGAIN && errno != EWOULDBLOCK)
                logLine(std::string("accept failed: ") + std::strerror(errno));
            return;
        }
        if (outOfDescriptors_) {
            outOfDescriptors_ = false;
            logLine("accepting connections again (" + std::to_string(connections_.size()) +
                    " open)");
        }
        uid_t uid = 0;
        if (!peerAllowed(fd, uid)) continue;
        if (connections_.size() >= maxConnections_ && !makeRoom()) {
            closedForRoom_.count();
            close(fd);
            continue;
        }
        auto connection = std::make_unique<Connection>();
        connection->fd = fd;
        connection->serial = nextSerial_++;
        connection->uid = uid;
        connection->deadline = Clock::now() + options_.readDeadline;
        Connection& added = *connection;
        connections_.emplace(fd, std::move(connection));
        // The request usually follows the connect at once: read before waiting.
        onReadable(added);
        if (connections_.size() <= 1) return;  // a lone client: back to epoll at once
    }
}

void RequestTransport::pauseAccepting(int error) {
    if (listening_) {
        epoll_ctl(epollFd_, EPOLL_CTL_DEL, listenFd_, nullptr);
        listening_ = false;
    }
    retryAcceptAt_ = Clock::now() + std::chrono::seconds(1);
    if (outOfDescriptors_) return;
    outOfDescriptors_ = true;
    logLine(std::string("cannot accept connections: ") + std::strerror(error) + " (" +
            std::to_string(connections_.size()) + " open); waiting for a connection to close");
}

void RequestTransport::resumeAccepting() {
    if (listening_ || listenFd_ < 0) return;
    epoll_event event{};
    event.events = EPOLLIN;
    event.data.fd = listenFd_;
    listening_ = epoll_ctl(epollFd_, EPOLL_CTL_ADD, listenFd_, &event) == 0;
}

bool RequestTransport::peerAllowed(int fd, uid_t& uid) {
    ucred peer{};
    socklen_t length = sizeof(peer);
    std::string why = getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &peer, &length) == 0
                          ? wire::untrustedPeer(peer.uid, geteuid())
                          : std::string("its peer cannot be identified: ") + std::strerror(errno);
    uid = peer.uid;
    if (why.empty()) return true;
    close(fd);
    if (std::find(refusedUsers_.begin(), refusedUsers_.end(), peer.uid) == refusedUsers_.end()) {
        if (refusedUsers_.size() < 64) refusedUsers_.push_back(peer.uid);
        logLine("closed a connection from another user (logged once per user): " + why);
    }
    return false;
}

bool RequestTransport::makeRoom() {
    const Connection* oldest = nullptr;
    for (const auto& [fd, connection] : connections_) {
        const bool idle = connection->state == Connection::State::ReadingHeader ||
                          connection->state == Connection::State::ReadingInput;
        if (idle && (oldest == nullptr || connection->serial < oldest->serial))
            oldest = connection.get();
    }
    if (oldest == nullptr) return false;
    closedForRoom_.count();
    closeConnection(oldest->fd);
    return true;
}

size_t RequestTransport::pendingReplyBytes() const {
    size_t total = 0;
    for (const auto& [fd, connection] : connections_)
        total += connection->replyBody.size() + connection->deferredReply.size();
    return total;
}

void RequestTransport::watch(Connection& connection, uint32_t events) {
    if (connection.watched == events) return;
    epoll_event event{};
    event.events = events;
    event.data.fd = connection.fd;
    epoll_ctl(epollFd_, connection.watched == 0 ? EPOLL_CTL_ADD : EPOLL_CTL_MOD, connection.fd,
              &event);
    connection.watched = events;
}

void RequestTransport::closeConnection(int fd) {
    auto found = connections_.find(fd);
    if (found == connections_.end()) return;
    dispatcher_.closing(*found->second);
    holdInput(*found->second, 0);
    releasedBytes_ += found->second->input.capacity() + found->second->replyBody.capacity() +
                      found->second->deferredReply.capacity() + sizeof(Connection);
    close(fd);  // also leaves epoll
    connections_.erase(found);
    resumeAccepting();
}

void RequestTransport::onReadable(Connection& connection) {
    int fd = connection.fd;
    for (;;) {
        if (connection.state == Connection::State::Parked ||
            connection.state == Connection::State::Shared ||
            connection.state == Connection::State::Deferred) {
            // A parked wait, a shared connection or a reply waiting for its
            // device: anything arriving now is a hang-up or garbage.
            uint8_t scrap;
            ssize_t got = recv(fd, &scrap, 1, 0);
            if (got < 0 && (errno == EAGAIN || errno == EINTR)) return;
            closeConnection(fd);
            return;
        }
        // The header and the start of the input usually come in one read.
        iovec parts[2];
        bool readingHeader = connection.state == Connection::State::ReadingHeader;
        if (readingHeader) {
            parts[0] = {connection.header + connection.headerGot,
                        wire::kHeaderSize - connection.headerGot};
            parts[1] = {staging_.data(), staging_.size()};
        } else {
            parts[0] = {staging_.data(), std::min(staging_.size(), connection.request.inputLength -
                                                                       connection.input.size())};
        }
        ssize_t got = readv(fd, parts, readingHeader ? 2 : 1);
        if (got < 0) {
            if (errno == EINTR) continue;
            if (errno == EAGAIN || errno == EWOULDBLOCK) {
                watch(connection, EPOLLIN | EPOLLRDHUP);
                return;
            }
            closeConnection(fd);
            return;
        }
        if (got == 0) {  // gone before its request was complete
            closeConnection(fd);
            return;
        }
        auto count = static_cast<size_t>(got);
        if (readingHeader) {
            size_t headerPart = std::min(count, parts[0].iov_len);
            connection.headerGot += headerPart;
            if (connection.headerGot < wire::kHeaderSize) continue;
            auto header = wire::decodeRequestHeader(connection.header);
            size_t early = count - headerPart;
            if (!header || early > header->inputLength) {
                logLine("dropped a connection with a malformed request");
                closeConnection(fd);
                return;
            }
            connection.request = *header;
            connection.state = Connection::State::ReadingInput;
            count = early;
        }
        if (!takeInput(connection, count)) return;
        if (connection.input.size() == connection.request.inputLength) {
            holdInput(connection, 0);  // answered now: no longer waiting for bytes
            dispatcher_.dispatch(connection);
            return;
        }
    }
}

bool RequestTransport::takeInput(Connection& connection, size_t count) {
    std::vector<uint8_t>& input = connection.input;
    const size_t needed = input.size() + count;
    if (needed > input.capacity()) {
        const size_t capacity = std::min<size_t>(connection.request.inputLength,
                                                 std::max(needed, 2 * input.capacity()));
        // A request these bytes complete is answered at once and holds
        // nothing after; only one that waits for more is bounded.
        const bool complete = needed == connection.request.inputLength;
        if (!complete && !makeRoomForInput(connection, capacity - connection.inputHeld)) {
            closedForBytes_.count();
            closeConnection(connection.fd);
            return false;
        }
        input.reserve(capacity);
        holdInput(connection, input.capacity());
    }
    input.insert(input.end(), staging_.begin(), staging_.begin() + static_cast<ptrdiff_t>(count));
    return true;
}

void RequestTransport::holdInput(Connection& connection, size_t bytes) {
    requestBytes_ = requestBytes_ - connection.inputHeld + bytes;
    if (connection.inputHeld == 0 && bytes > 0)
        holdingInput_.emplace(connection.serial, connection.fd);
    if (connection.inputHeld > 0 && bytes == 0) holdingInput_.erase(connection.serial);
    connection.inputHeld = bytes;
}

bool RequestTransport::makeRoomForInput(const Connection& connection, size_t more) {
    while (requestBytes_ + more > options_.pendingRequestBudget) {
        auto oldest = holdingInput_.begin();
        if (oldest != holdingInput_.end() && oldest->second == connection.fd) ++oldest;
        if (oldest == holdingInput_.end()) return false;
        closedForBytes_.count();
        closeConnection(oldest->second);
    }
    return true;
}

void RequestTransport::reply(Connection& connection, std::vector<uint8_t> bytes) {
    releasedBytes_ += connection.input.capacity();
    std::vector<uint8_t>().swap(connection.input);  // answered: the request's bytes are done with
    if (connection.truncateTo && bytes.size() > *connection.truncateTo)
        bytes.resize(*connection.truncateTo);
    wire::encodeReplyHeader(
        {static_cast<int32_t>(bytes.size()), static_cast<uint32_t>(bytes.size())},
        connection.replyHeader);
    connection.replyBody = std::move(bytes);
    connection.state = Connection::State::Writing;
    connection.sent = 0;
    connection.deadline = Clock::now() + options_.writeStallDeadline;
    flush(connection);
}

void RequestTransport::fail(Connection& connection, const std::string& why) {
    if (!why.empty()) logLine("failed a request: " + why);
    releasedBytes_ += connection.input.capacity();
    std::vector<uint8_t>().swap(connection.input);
    wire::encodeReplyHeader({wire::kDriverFailed, 0}, connection.replyHeader);
    connection.replyBody.clear();
    connection.state = Connection::State::Writing;
    connection.sent = 0;
    connection.deadline = Clock::now() + options_.writeStallDeadline;
    flush(connection);
}

void RequestTransport::onWritable(Connection& connection) {
    flush(connection);
}

void RequestTransport::flush(Connection& connection) {
    const size_t total = wire::kHeaderSize + connection.replyBody.size();
    while (connection.sent < total) {
        iovec parts[2];
        int count = 0;
        if (connection.sent < wire::kHeaderSize)
            parts[count++] = {connection.replyHeader + connection.sent,
                              wire::kHeaderSize - connection.sent};
        size_t bodyOffset =
            connection.sent > wire::kHeaderSize ? connection.sent - wire::kHeaderSize : 0;
        if (bodyOffset < connection.replyBody.size())
            parts[count++] = {connection.replyBody.data() + bodyOffset,
                              connection.replyBody.size() - bodyOffset};
        msghdr message{};
        message.msg_iov = parts;
        message.msg_iovlen = static_cast<size_t>(count);
        union {
            cmsghdr header;
            uint8_t bytes[CMSG_SPACE(sizeof(int) * 4)];
        } control{};
        if (connection.sent == 0 && !connection.passing.empty()) {
            const size_t passed = std::min<size_t>(connection.passing.size(), 4);
            int fds[4] = {-1, -1, -1, -1};
            for (size_t i = 0; i < passed; ++i) fds[i] = connection.passing[i].get();
            message.msg_control = control.bytes;
            message.msg_controllen = CMSG_SPACE(sizeof(int) * passed);
            control.header.cmsg_level = SOL_SOCKET;
            control.header.cmsg_type = SCM_RIGHTS;
            control.header.cmsg_len = CMSG_LEN(sizeof(int) * passed);
            std::memcpy(CMSG_DATA(&control.header), fds, sizeof(int) * passed);
        }
        ssize_t sent = sendmsg(connection.fd, &message, MSG_NOSIGNAL | MSG_DONTWAIT);
        if (sent > 0) connection.passing.clear();  // the client has its own copies now
        if (sent < 0) {
            if (errno == EINTR) continue;
            if (errno == EAGAIN || errno == EWOULDBLOCK) {
                watch(connection, EPOLLOUT);
                return;
            }
            break;  // the client went away mid-reply: nothing more to do
        }
        connection.sent += static_cast<size_t>(sent);
        connection.deadline = Clock::now() + options_.writeStallDeadline;
    }
    if (connection.sent == total && connection.sharedFor) {
        connection.state = Connection::State::Shared;
        watch(connection, EPOLLIN | EPOLLRDHUP);
        return;
    }
    closeConnection(connection.fd);
}

void RequestTransport::sweep(Clock::time_point now) {
    std::vector<int> overdue;
    for (const auto& [fd, connection] : connections_)
        if (connection->state != Connection::State::Parked &&
            connection->state != Connection::State::Shared &&
            connection->state != Connection::State::Deferred && now > connection->deadline)
            overdue.push_back(fd);
    for (int fd : overdue) closeConnection(fd);
    stalled_.count(overdue.size());
    stalled_.flush(now, [](uint64_t count) {
        return "dropped " + std::to_string(count) + " stalled connection" + (count == 1 ? "" : "s");
    });
    // Descriptors may come free elsewhere than in a closing connection.
    if (!listening_ && now >= retryAcceptAt_) resumeAccepting();
    closedForBytes_.flush(now, [this](uint64_t count) {
        return "at the limit of " + std::to_string(options_.pendingRequestBudget) +
               " bytes for requests still arriving: closed " + std::to_string(count) + " of them";
    });
    // After a flood the freed memory goes back to the system, not only to
    // the allocator's free lists; at most once a second, as it walks the heap.
    if (releasedBytes_ >= kTrimAfterBytes && now - lastTrim_ >= std::chrono::seconds(1)) {
        malloc_trim(0);
        releasedBytes_ = 0;
        lastTrim_ = now;
    }
    closedForRoom_.flush(now, [this](uint64_t count) {
        return "at the limit of " + std::to_string(maxConnections_) + " open connections: closed " +
               std::to_string(count) + " waiting for their request";
    });
}

}  // namespace nettlebeam::driver
