#include "server.h"

#include <malloc.h>
#include <signal.h>
#include <sys/epoll.h>
#include <sys/resource.h>
#include <sys/signalfd.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/timerfd.h>
#include <sys/uio.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <sstream>

#include "admin_protocol.h"
#include "capture_ring.h"
#include "control_socket.h"
#include "control_trust.h"
#include "device_backends.h"
#include "event_record.h"
#include "log.h"
#include "process_identity.h"
#include "request_table.h"
#include "sim/request_codes.h"

namespace nettlebeam::driver {

namespace {

constexpr auto kTickPeriod = std::chrono::milliseconds(100);
// How long an orderly stop waits for clients to take their last events.
constexpr auto kStopGrace = std::chrono::seconds(2);
// Connections kept open for shared memory, one descriptor each: a client
// that never closes them must not exhaust the daemon's descriptors.
constexpr size_t kMaxSharedConnections = 256;
// Freed bytes after which memory is handed back to the system.
constexpr size_t kTrimAfterBytes = 4u << 20;

uint32_t getU32(const uint8_t* p) {
    return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 |
           static_cast<uint32_t>(p[2]) << 16 | static_cast<uint32_t>(p[3]) << 24;
}

std::vector<uint8_t> u32Bytes(uint32_t value) {
    return {static_cast<uint8_t>(value), static_cast<uint8_t>(value >> 8),
            static_cast<uint8_t>(value >> 16), static_cast<uint8_t>(value >> 24)};
}

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

std::string hexCode(uint32_t code) {
    char text[16];
    std::snprintf(text, sizeof(text), "0x%08X", code);
    return text;
}

}  // namespace

struct Server::Connection {
    // Parked: an event wait without an event yet; Deferred: a device reply
    // that waits for the device's work to finish; Shared: the reply handed
    // over descriptors and the connection stays open while they are served
    // (the client closes it when done).
    enum class State { ReadingHeader, ReadingInput, Parked, Deferred, Writing, Shared };
    int fd = -1;
    uint64_t serial = 0;  // accept order
    uid_t uid = 0;        // the peer's user
    State state = State::ReadingHeader;
    uint32_t watched = 0;  // epoll events registered, 0 when not registered
    uint8_t header[wire::kHeaderSize] = {};
    size_t headerGot = 0;
    wire::RequestHeader request;
    // Grows with the bytes that arrive, never ahead of them to what the
    // header declares; freed once the request is answered.
    std::vector<uint8_t> input;
    size_t inputHeld = 0;  // of input's capacity, counted in requestBytes_
    uint8_t replyHeader[wire::kHeaderSize] = {};
    std::vector<uint8_t> replyBody;
    size_t sent = 0;  // bytes of header and body written so far
    Clock::time_point deadline;
    std::optional<ProcessKey> process;
    std::optional<uint32_t> truncateTo;              // an injected fault cuts the reply short
    std::vector<wire::UniqueFd> passing;             // go with the first bytes of the reply
    std::optional<DeviceHandle> sharedFor;           // stays open (Shared) once the reply is out
    std::shared_ptr<const std::atomic<bool>> ready;  // Deferred: when to send deferredReply
    std::vector<uint8_t> deferredReply;
};

Server::Server(ServerOptions options)
    : options_(std::move(options)),
      queues_(options_.eventQueueBound, options_.forgetProcessAfter) {}

Server::~Server() {
    for (auto& [fd, connection] : connections_) close(fd);
    for (int fd : {listenFd_, epollFd_, timerFd_, signalFd_})
        if (fd >= 0) close(fd);
}

bool Server::listen(std::string& error) {
    listenFd_ = listenOnControlPath({options_.controlPath, options_.privateFolder}, error);
    if (listenFd_ < 0) return false;
    struct stat info {};
    if (lstat(options_.controlPath.c_str(), &info) == 0) socketInode_ = info.st_ino;
    return true;
}

bool Server::prepareLoop(std::string& error) {
    epollFd_ = epoll_create1(EPOLL_CLOEXEC);
    timerFd_ = timerfd_create(CLOCK_MONOTONIC, TFD_NONBLOCK | TFD_CLOEXEC);
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGINT);
    sigaddset(&stopSignals, SIGTERM);
    sigprocmask(SIG_BLOCK, &stopSignals, nullptr);
    signal(SIGPIPE, SIG_IGN);
    signalFd_ = signalfd(-1, &stopSignals, SFD_NONBLOCK | SFD_CLOEXEC);
    if (epollFd_ < 0 || timerFd_ < 0 || signalFd_ < 0) {
        error = std::string("cannot set up the event loop: ") + std::strerror(errno);
        return false;
    }
    itimerspec period{};
    period.it_interval.tv_nsec = std::chrono::nanoseconds(kTickPeriod).count();
    period.it_value = period.it_interval;
    timerfd_settime(timerFd_, 0, &period, nullptr);
    for (int fd : {timerFd_, signalFd_}) {
        epoll_event event{};
        event.events = EPOLLIN;
        event.data.fd = fd;
        epoll_ctl(epollFd_, EPOLL_CTL_ADD, fd, &event);
    }
    resumeAccepting();
    maxConnections_ = options_.maxConnections;
    if (maxConnections_ == 0) maxConnections_ = connectionLimitFor(descriptorLimit());
    return true;
}

std::optional<DeviceHandle> Server::attach(const DeviceSpec& device) {
    auto make = device.backend->decode(device.settings);
    if (!make) return std::nullopt;
    return attachModel(*make);
}

DeviceHandle Server::attachModel(const ModelFactory& make) {
    DeviceHandle handle = nextHandle_++;
    Device device;
    device.model = make(handle, *this);
    logLine("attached device " + std::to_string(handle) + ": " + device.model->describe());
    devices_.emplace(handle, std::move(device));
    postEvent(makeDeviceEvent(EventKind::DeviceArrival, handle));
    return handle;
}

void Server::run() {
    logLine("serving " + options_.controlPath);
    epoll_event events[64];
    while (running_) {
        int ready = epoll_wait(epollFd_, events, 64, -1);
        if (ready < 0) {
            if (errno == EINTR) continue;
            logLine(std::string("epoll_wait failed: ") + std::strerror(errno));
            break;
        }
        for (int i = 0; i < ready && running_; ++i) {
            int fd = events[i].data.fd;
            if (fd == listenFd_) {
                acceptAll();
            } else if (fd == timerFd_) {
                uint64_t expirations;
                while (read(timerFd_, &expirations, sizeof(expirations)) > 0) {
                }
                tick();
            } else if (fd == signalFd_) {
                signalfd_siginfo info{};
                if (read(signalFd_, &info, sizeof(info)) > 0)
                    logLine("stopping on signal " + std::to_string(info.ssi_signo));
                beginStop();
            } else if (auto found = connections_.find(fd); found != connections_.end()) {
                Connection& connection = *found->second;
                if (connection.state == Connection::State::Writing)
                    onWritable(connection);
                else
                    onReadable(connection);
            }
        }
    }
    removeSocket();
    logLine("stopped");
}

void Server::beginStop() {
    if (stopping_) {
        running_ = false;
        return;
    }
    stopping_ = true;
    stopDeadline_ = Clock::now() + kStopGrace;
    for (int fd : parked_)
        if (auto found = connections_.find(fd);
            found != connections_.end() && found->second->process)
            stopListeners_.push_back(*found->second->process);
    for (auto& [handle, device] : devices_) device.model->shutDown();
    if (stopAnnounced()) running_ = false;
}

bool Server::stopAnnounced() const {
    for (const ProcessKey& process : stopListeners_)
        if (queues_.pending(process) > 0) return false;
    return true;
}

void Server::removeSocket() {
    struct stat info {};
    // Only our own socket: a successor may already have taken the path.
    if (lstat(options_.controlPath.c_str(), &info) == 0 && info.st_ino == socketInode_)
        unlink(options_.controlPath.c_str());
}

void Server::acceptAll() {
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

void Server::pauseAccepting(int error) {
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

void Server::resumeAccepting() {
    if (listening_ || listenFd_ < 0) return;
    epoll_event event{};
    event.events = EPOLLIN;
    event.data.fd = listenFd_;
    listening_ = epoll_ctl(epollFd_, EPOLL_CTL_ADD, listenFd_, &event) == 0;
}

bool Server::peerAllowed(int fd, uid_t& uid) {
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

bool Server::makeRoom() {
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

size_t Server::pendingReplyBytes() const {
    size_t total = 0;
    for (const auto& [fd, connection] : connections_)
        total += connection->replyBody.size() + connection->deferredReply.size();
    return total;
}

void Server::watch(Connection& connection, uint32_t events) {
    if (connection.watched == events) return;
    epoll_event event{};
    event.events = events;
    event.data.fd = connection.fd;
    epoll_ctl(epollFd_, connection.watched == 0 ? EPOLL_CTL_ADD : EPOLL_CTL_MOD, connection.fd,
              &event);
    connection.watched = events;
}

void Server::closeConnection(int fd) {
    auto found = connections_.find(fd);
    if (found == connections_.end()) return;
    if (found->second->state == Connection::State::Parked) {
        std::erase(parked_, fd);
        if (found->second->process) queues_.unpark(*found->second->process, Clock::now());
    }
    if (found->second->state == Connection::State::Deferred) std::erase(deferred_, fd);
    holdInput(*found->second, 0);
    releasedBytes_ += found->second->input.capacity() + found->second->replyBody.capacity() +
                      found->second->deferredReply.capacity() + sizeof(Connection);
    close(fd);  // also leaves epoll
    connections_.erase(found);
    resumeAccepting();
}

void Server::onReadable(Connection& connection) {
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
            dispatch(connection);
            return;
        }
    }
}

bool Server::takeInput(Connection& connection, size_t count) {
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

void Server::holdInput(Connection& connection, size_t bytes) {
    requestBytes_ = requestBytes_ - connection.inputHeld + bytes;
    if (connection.inputHeld == 0 && bytes > 0)
        holdingInput_.emplace(connection.serial, connection.fd);
    if (connection.inputHeld > 0 && bytes == 0) holdingInput_.erase(connection.serial);
    connection.inputHeld = bytes;
}

bool Server::makeRoomForInput(const Connection& connection, size_t more) {
    while (requestBytes_ + more > options_.pendingRequestBudget) {
        auto oldest = holdingInput_.begin();
        if (oldest != holdingInput_.end() && oldest->second == connection.fd) ++oldest;
        if (oldest == holdingInput_.end()) return false;
        closedForBytes_.count();
        closeConnection(oldest->second);
    }
    return true;
}

void Server::dispatch(Connection& connection) {
    uint32_t code = connection.request.code;
    if (admin::isAdminCode(code))
        answerAdmin(connection);
    else if (code == codes::kEnumerate)
        answerEnumeration(connection);
    else if (code == codes::kEventWait)
        answerEventWait(connection);
    else
        answerDevice(connection);
}

void Server::answerDevice(Connection& connection) {
    const wire::RequestHeader& request = connection.request;
    auto shape = requestShape(request.code);
    if (!shape) return fail(connection, "unknown request code " + hexCode(request.code));
    if (request.inputLength < 4)
        return fail(connection, hexCode(request.code) + " without a device handle");
    auto handle = static_cast<DeviceHandle>(getU32(connection.input.data()));
    const uint8_t* payload = connection.input.data() + 4;
    uint32_t payloadLength = request.inputLength - 4;
    if (!payloadFits(*shape, payload, payloadLength))
        return fail(connection, hexCode(request.code) + " with a payload of " +
                                    std::to_string(payloadLength) + " bytes");
    if (!capacityFits(*shape, request.outputCapacity))
        return fail(connection, hexCode(request.code) + " with a reply buffer of only " +
                                    std::to_string(request.outputCapacity) + " bytes");
    auto found = devices_.find(handle);
    if (found == devices_.end() || found->second.hidden)
        return fail(connection,
                    hexCode(request.code) + " for unknown handle " + std::to_string(handle));

    if (answeredByFault(connection, handle, hexCode(request.code))) return;
    uint32_t capacity = request.outputCapacity;
    if (request.code == sim::code::kMemoryCaptureData) {
        const size_t pending = pendingReplyBytes();
        const size_t left =
            pending < options_.pendingReplyBudget ? options_.pendingReplyBudget - pending : 0;
        capacity = static_cast<uint32_t>(std::min<size_t>(capacity, left));
    }
    DeviceReply answer = found->second.model->handleRequest(
        request.code, std::span<const uint8_t>(payload, payloadLength), capacity);
    if (!answer.ok)
        return fail(connection, "device " + std::to_string(handle) + " refused " +
                                    hexCode(request.code) +
                                    (answer.reason.empty() ? "" : ": " + answer.reason));
    if (answer.bytes.size() > request.outputCapacity)
        return fail(connection, "device " + std::to_string(handle) + " answered " +
                                    hexCode(request.code) + " with more than the buffer holds");
    if (answer.ready && !answer.ready->load()) {
        connection.state = Connection::State::Deferred;
        connection.ready = std::move(answer.ready);
        connection.deferredReply = std::move(answer.bytes);
        deferred_.push_back(connection.fd);
        watch(connection, EPOLLIN | EPOLLRDHUP);
        return;
    }
    reply(connection, std::move(answer.bytes));
}

void Server::deliverDeferred() {
    // Answering changes `deferred_`: work on a copy.
    std::vector<int> waiting = deferred_;
    for (int fd : waiting) {
        auto found = connections_.find(fd);
        if (found == connections_.end() || found->second->state != Connection::State::Deferred ||
            !found->second->ready->load())
            continue;
        std::erase(deferred_, fd);
        Connection& connection = *found->second;
        connection.ready.reset();
        reply(connection, std::move(connection.deferredReply));
    }
}

void Server::answerEnumeration(Connection& connection) {
    if (connection.request.inputLength != 0) return fail(connection, "enumeration with an input");
    connection.process = peerProcess(connection.fd);
    if (connection.process) queues_.touch(*connection.process, Clock::now());
    if (answeredByFault(connection, std::nullopt, "the enumeration")) return;
    std::vector<uint8_t> handles;
    for (const auto& [handle, device] : devices_) {
        if (device.hidden) continue;
        if (handles.size() / 4 == kMaxEnumeratedHandles) break;
        auto bytes = u32Bytes(static_cast<uint32_t>(handle));
        handles.insert(handles.end(), bytes.begin(), bytes.end());
    }
    if (handles.size() > connection.request.outputCapacity)
        return fail(connection, "enumeration with a reply buffer of only " +
                                    std::to_string(connection.request.outputCapacity) + " bytes");
    reply(connection, std::move(handles));
}

void Server::answerEventWait(Connection& connection) {
    const wire::RequestHeader& request = connection.request;
    if (request.inputLength != 0) return fail(connection, "event wait with an input");
    if (request.outputCapacity < kEventRecordBytes)
        return fail(connection, "event wait with a reply buffer of only " +
                                    std::to_string(request.outputCapacity) + " bytes");
    connection.process = peerProcess(connection.fd);
    if (!connection.process) return fail(connection, "event wait from an unidentified process");
    if (answeredByFault(connection, std::nullopt, "the event wait")) return;
    std::vector<uint8_t> event;
    switch (queues_.take(*connection.process, Clock::now(), event)) {
        case EventQueues::Take::Event:
            return reply(connection, std::move(event));
        case EventQueues::Take::Overflowed:
            return fail(connection, "event queue of process " +
                                        std::to_string(connection.process->pid) +
                                        " overflowed; it must enumerate again");
        case EventQueues::Take::Empty:
            makeRoomToPark(connection);
            connection.state = Connection::State::Parked;
            queues_.park(*connection.process);
            parked_.push_back(connection.fd);
            watch(connection, EPOLLIN | EPOLLRDHUP);
            return;
    }
}

void Server::makeRoomToPark(const Connection& connection) {
    // The daemon's user and root are the only peers: each may keep parked
    // waits in half of the slots, so requests always find room.
    const size_t share = std::max<size_t>(maxConnections_ / 2, 1);
    std::vector<Connection*> users;  // that user's parked waits, oldest first
    for (int fd : parked_)
        if (auto found = connections_.find(fd);
            found != connections_.end() && found->second->uid == connection.uid)
            users.push_back(found->second.get());
    while (users.size() >= share) {
        // One process needs one wait: one that keeps more loses its own
        // oldest before anyone else's.
        auto oldest = std::find_if(users.begin(), users.end(), [&](const Connection* parked) {
            return parked->process == connection.process;
        });
        if (oldest == users.end()) oldest = users.begin();
        Connection& closing = **oldest;
        users.erase(oldest);
        std::erase(parked_, closing.fd);
        queues_.unpark(*closing.process, Clock::now());
        closedParked_.count();
        fail(closing, "");  // its client sees a failed wait and waits again
    }
}

void Server::answerAdmin(Connection& connection) {
    const std::vector<uint8_t>& input = connection.input;
    switch (connection.request.code) {
        case wire::ring::kShareMemoryCapture:
            return answerShare(connection);
        case admin::kDetach: {
            if (input.size() != 4) return fail(connection, "malformed detach request");
            auto handle = static_cast<DeviceHandle>(getU32(input.data()));
            const auto detached = devices_.find(handle);
            if (detached == devices_.end())
                return fail(connection, "detach of unknown handle " + std::to_string(handle));
            // Unplugged, the device ends its capture first: its last file is
            // closed and announced before it is announced gone.
            detached->second.model->shutDown();
            devices_.erase(detached);
            releaseShared(handle);
            faults_.forgetDevice(handle);
            logLine("detached device " + std::to_string(handle));
            postEvent(makeDeviceEvent(EventKind::DeviceRemoval, handle));
            return reply(connection, {});
        }
        case admin::kDevices: {
            std::ostringstream text;
            for (const auto& [handle, device] : devices_)
                text << handle << ' ' << device.model->describe()
                     << (device.hidden ? " (restarting)" : "") << '\n';
            std::string listing = text.str();
            if (listing.size() > connection.request.outputCapacity)
                return fail(connection, "device list larger than the reply buffer");
            return reply(connection, std::vector<uint8_t>(listing.begin(), listing.end()));
        }
        case admin::kStop:
            logLine("stop requested");
            beginStop();
            return reply(connection, {});
        case admin::kInject: {
            auto fault = decodeFault(input);
            if (!fault) return fail(connection, "malformed inject request");
            if (!fault->anyHandle && devices_.count(fault->handle) == 0)
                return fail(connection,
                            "inject for unknown handle " + std::to_string(fault->handle));
            logLine("armed a fault for " + hexCode(fault->code) + " (" +
                    std::to_string(fault->times) + " times)");
            // A data request fault must reach the device's next read, which
            // therefore has to come to the driver.
            if (fault->code == sim::code::kMemoryCaptureData && !fault->anyHandle)
                releaseShared(fault->handle);
            faults_.arm(std::move(*fault));
            return reply(connection, {});
        }
        case admin::kEvent:
            if (input.size() != kEventRecordBytes)
                return fail(connection, "malformed event request");
            logLine("queued an event of kind " + std::to_string(getU32(input.data() + 4)));
            postEvent(input);
            return reply(connection, {});
        default:
            if (const DeviceBackend* backend = backendForAttachCode(connection.request.code))
                return answerAttach(connection, *backend);
            return fail(connection, "unknown request code " + hexCode(connection.request.code));
    }
}

void Server::answerAttach(Connection& connection, const DeviceBackend& backend) {
    auto make = backend.decode(connection.input);
    if (!make || connection.request.outputCapacity < 4)
        return fail(connection, "malformed attach request");
    DeviceHandle handle = 0;
    try {  // a file the options named may have changed since they were checked
        handle = attachModel(*make);
    } catch (const std::exception& e) {
        return fail(connection, e.what());
    }
    return reply(connection, u32Bytes(static_cast<uint32_t>(handle)));
}

bool Server::answeredByFault(Connection& connection, std::optional<DeviceHandle> handle,
                             const std::string& what) {
    const wire::RequestHeader& request = connection.request;
    auto fault = faults_.take(request.code, handle);
    if (!fault) return false;
    switch (fault->action) {
        case Fault::Action::Fail:
            fail(connection, "injected failure of " + what);
            return true;
        case Fault::Action::Replace:
            if (fault->bytes.size() > request.outputCapacity)
                fail(connection, "injected reply larger than the reply buffer");
            else
                reply(connection, std::move(fault->bytes));
            return true;
        case Fault::Action::Truncate:
            // Applies to whatever reply the request gets.
            connection.truncateTo = fault->truncateTo;
            return false;
    }
    return false;
}

void Server::answerShare(Connection& connection) {
    namespace ring = wire::ring;
    const wire::RequestHeader& request = connection.request;
    if (request.inputLength != 4 || request.outputCapacity < ring::kShareReplySize)
        return fail(connection, "malformed memory capture share request");
    auto handle = static_cast<DeviceHandle>(getU32(connection.input.data()));
    auto found = devices_.find(handle);
    if (found == devices_.end() || found->second.hidden)
        return fail(connection,
                    "memory capture share for unknown handle " + std::to_string(handle));
    if (answeredByFault(connection, handle, hexCode(request.code))) return;
    if (faults_.armed(sim::code::kMemoryCaptureData, handle))
        return fail(connection, "memory capture of device " + std::to_string(handle) +
                                    " not shared while a fault waits for its data request");
    const auto shared = std::count_if(connections_.begin(), connections_.end(), [](const auto& c) {
        return c.second->sharedFor.has_value();
    });
    if (static_cast<size_t>(shared) >= kMaxSharedConnections)
        return fail(connection, "too many shared memory captures open");
    DeviceReply answer =
        found->second.model->handleRequest(request.code, {}, request.outputCapacity);
    if (!answer.ok || answer.bytes.size() > request.outputCapacity)
        return fail(connection, "device " + std::to_string(handle) + " refused " +
                                    hexCode(request.code) +
                                    (answer.reason.empty() ? "" : ": " + answer.reason));
    connection.passing = std::move(answer.descriptors);
    if (!connection.passing.empty()) connection.sharedFor = handle;
    reply(connection, std::move(answer.bytes));
}

void Server::releaseShared(DeviceHandle handle) {
    std::vector<int> release;
    for (auto& [fd, connection] : connections_) {
        if (connection->sharedFor != handle) continue;
        if (connection->state == Connection::State::Shared)
            release.push_back(fd);
        else
            connection->sharedFor.reset();  // still writing: closed once written
    }
    for (int fd : release) closeConnection(fd);
}

void Server::reply(Connection& connection, std::vector<uint8_t> bytes) {
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

void Server::fail(Connection& connection, const std::string& why) {
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

void Server::onWritable(Connection& connection) {
    flush(connection);
}

void Server::flush(Connection& connection) {
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

void Server::postEvent(const std::vector<uint8_t>& eventRecord) {
    if (eventRecord.size() != kEventRecordBytes) {
        logLine("dropped an event record of " + std::to_string(eventRecord.size()) + " bytes");
        return;
    }
    queues_.post(eventRecord);
    deliverParked();
}

void Server::deliverParked() {
    // Answering closes connections and changes `parked_`: work on a copy.
    std::vector<int> waiting = parked_;
    auto now = Clock::now();
    for (int fd : waiting) {
        auto found = connections_.find(fd);
        if (found == connections_.end() || found->second->state != Connection::State::Parked)
            continue;
        Connection& connection = *found->second;
        std::vector<uint8_t> event;
        auto outcome = queues_.take(*connection.process, now, event);
        if (outcome == EventQueues::Take::Empty) continue;
        std::erase(parked_, fd);
        queues_.unpark(*connection.process, now);
        if (outcome == EventQueues::Take::Event)
            reply(connection, std::move(event));
        else
            fail(connection, "event queue of process " + std::to_string(connection.process->pid) +
                                 " overflowed; it must enumerate again");
    }
}

void Server::restartDevice(DeviceHandle handle, std::chrono::milliseconds downtime) {
    auto found = devices_.find(handle);
    if (found == devices_.end() || found->second.hidden) return;
    logLine("device " + std::to_string(handle) + " restarts");
    releaseShared(handle);
    found->second.hidden = true;
    found->second.powerOnAt = Clock::now() + downtime;
    postEvent(makeDeviceEvent(EventKind::DeviceRemoval, handle));
}

void Server::tick() {
    auto now = Clock::now();
    if (stopping_ && (stopAnnounced() || now >= stopDeadline_)) running_ = false;
    for (auto& [handle, device] : devices_) {
        if (device.hidden && now >= device.powerOnAt) {
            device.hidden = false;
            device.model->powerOn();
            logLine("device " + std::to_string(handle) + " is back");
            postEvent(makeDeviceEvent(EventKind::DeviceArrival, handle));
        }
        if (!device.hidden) device.model->tick(now);
    }
    // After the devices have posted their events, so a client sees the
    // events of finished work no later than its reply.
    deliverDeferred();
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
    closedParked_.flush(now, [this](uint64_t count) {
        return "closed " + std::to_string(count) + " parked event wait" + (count == 1 ? "" : "s") +
               " beyond a user's share of " +
               std::to_string(std::max<size_t>(maxConnections_ / 2, 1)) + " connections";
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
    // Exited clients are looked for once a second: it costs a /proc read each.
    std::function<bool(const ProcessKey&)> running;
    if (now - lastLivenessCheck_ >= std::chrono::seconds(1)) {
        lastLivenessCheck_ = now;
        running = processRunning;
    }
    if (size_t forgotten = queues_.expire(now, running))
        logLine("forgot " + std::to_string(forgotten) +
                " client process(es) that exited or stopped asking");
}

}  // namespace nettlebeam::driver
