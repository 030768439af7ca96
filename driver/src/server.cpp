#include "server.h"

#include <signal.h>
#include <sys/epoll.h>
#include <sys/signalfd.h>
#include <sys/timerfd.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <sstream>

#include "admin_protocol.h"
#include "byte_order.h"
#include "capture_ring.h"
#include "device_backends.h"
#include "event_record.h"
#include "log.h"
#include "process_identity.h"
#include "request_codes.h"
#include "request_table.h"

namespace nettlebeam::driver {

namespace {

constexpr auto kTickPeriod = std::chrono::milliseconds(100);
// How long an orderly stop waits for clients to take their last events.
constexpr auto kStopGrace = std::chrono::seconds(2);
// Connections kept open for shared memory, one descriptor each: a client
// that never closes them must not exhaust the daemon's descriptors.
constexpr size_t kMaxSharedConnections = 256;

std::string hexCode(uint32_t code) {
    char text[16];
    std::snprintf(text, sizeof(text), "0x%08X", code);
    return text;
}

}  // namespace

Server::Server(ServerOptions options)
    : options_(std::move(options)),
      queues_(options_.eventQueueBound, options_.forgetProcessAfter) {}

Server::~Server() {
    for (int fd : {epollFd_, timerFd_, signalFd_})
        if (fd >= 0) close(fd);
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
    transport_.start(epollFd_);
    return true;
}

std::optional<DeviceHandle> Server::attach(const DeviceSpec& device) {
    auto make = device.backend->decode(device.settings);
    if (!make) return std::nullopt;
    try {  // what the options name (a file, an interface) may be gone or taken by now
        return attachModel(*make);
    } catch (const std::exception& e) {
        logLine(std::string("refused to attach a device: ") + e.what());
        return std::nullopt;
    }
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
            if (fd == transport_.listenFd()) {
                transport_.acceptAll();
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
            } else if (Connection* connection = transport_.find(fd)) {
                transport_.onReady(*connection);
            }
        }
    }
    transport_.removeSocket();
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
        if (auto found = transport_.connections().find(fd);
            found != transport_.connections().end() && found->second->process)
            stopListeners_.push_back(*found->second->process);
    for (auto& [handle, device] : devices_) device.model->shutDown();
    if (stopAnnounced()) running_ = false;
}

bool Server::stopAnnounced() const {
    for (const ProcessKey& process : stopListeners_)
        if (queues_.pending(process) > 0) return false;
    return true;
}

void Server::dispatch(Connection& connection) {
    uint32_t code = connection.request.code;
    if (admin::isAdminCode(code))
        answerAdmin(connection);
    else if (code == wire::code::kEnumerate)
        answerEnumeration(connection);
    else if (code == wire::code::kEventWait)
        answerEventWait(connection);
    else
        answerDevice(connection);
}

void Server::closing(Connection& connection) {
    if (connection.state == Connection::State::Parked) {
        std::erase(parked_, connection.fd);
        if (connection.process) queues_.unpark(*connection.process, Clock::now());
    }
    if (connection.state == Connection::State::Deferred) std::erase(deferred_, connection.fd);
}

void Server::answerDevice(Connection& connection) {
    const wire::RequestHeader& request = connection.request;
    auto shape = requestShape(request.code);
    if (!shape) return fail(connection, "unknown request code " + hexCode(request.code));
    if (request.inputLength < 4)
        return fail(connection, hexCode(request.code) + " without a device handle");
    auto handle = static_cast<DeviceHandle>(wire::readLe32(connection.input, 0));
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
    if (request.code == wire::code::kMemoryCaptureData) {
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
        auto found = transport_.connections().find(fd);
        if (found == transport_.connections().end() ||
            found->second->state != Connection::State::Deferred || !found->second->ready->load())
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
        if (handles.size() / 4 == wire::kMaxEnumeratedHandles) break;
        wire::appendLe32(handles, static_cast<uint32_t>(handle));
    }
    if (handles.size() > connection.request.outputCapacity)
        return fail(connection, "enumeration with a reply buffer of only " +
                                    std::to_string(connection.request.outputCapacity) + " bytes");
    reply(connection, std::move(handles));
}

void Server::answerEventWait(Connection& connection) {
    const wire::RequestHeader& request = connection.request;
    if (request.inputLength != 0) return fail(connection, "event wait with an input");
    if (request.outputCapacity < wire::kEventRecordBytes)
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
    const size_t share = std::max<size_t>(transport_.maxConnections() / 2, 1);
    std::vector<Connection*> users;  // that user's parked waits, oldest first
    for (int fd : parked_)
        if (auto found = transport_.connections().find(fd);
            found != transport_.connections().end() && found->second->uid == connection.uid)
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
            auto handle = static_cast<DeviceHandle>(wire::readLe32(input, 0));
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
            if (fault->code == wire::code::kMemoryCaptureData && !fault->anyHandle)
                releaseShared(fault->handle);
            faults_.arm(std::move(*fault));
            return reply(connection, {});
        }
        case admin::kEvent:
            if (input.size() != wire::kEventRecordBytes)
                return fail(connection, "malformed event request");
            logLine("queued an event of kind " + std::to_string(wire::readLe32(input, 4)));
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
        // A client with room for it hears why, as one line after handle -1.
        const uint32_t room = connection.request.outputCapacity;
        if (room <= 4) return fail(connection, e.what());
        logLine(std::string("refused to attach a device: ") + e.what());
        std::string why = e.what();
        why.resize(std::min<size_t>(why.size(), room - 4));
        std::vector<uint8_t> refusal;
        wire::appendLe32(refusal, UINT32_MAX);
        refusal.insert(refusal.end(), why.begin(), why.end());
        return reply(connection, refusal);
    }
    std::vector<uint8_t> handleBytes;
    wire::appendLe32(handleBytes, static_cast<uint32_t>(handle));
    return reply(connection, handleBytes);
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
    auto handle = static_cast<DeviceHandle>(wire::readLe32(connection.input, 0));
    auto found = devices_.find(handle);
    if (found == devices_.end() || found->second.hidden)
        return fail(connection,
                    "memory capture share for unknown handle " + std::to_string(handle));
    if (answeredByFault(connection, handle, hexCode(request.code))) return;
    if (faults_.armed(wire::code::kMemoryCaptureData, handle))
        return fail(connection, "memory capture of device " + std::to_string(handle) +
                                    " not shared while a fault waits for its data request");
    const auto shared =
        std::count_if(transport_.connections().begin(), transport_.connections().end(),
                      [](const auto& c) { return c.second->sharedFor.has_value(); });
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
    for (auto& [fd, connection] : transport_.connections()) {
        if (connection->sharedFor != handle) continue;
        if (connection->state == Connection::State::Shared)
            release.push_back(fd);
        else
            connection->sharedFor.reset();  // still writing: closed once written
    }
    for (int fd : release) closeConnection(fd);
}

void Server::postEvent(const std::vector<uint8_t>& eventRecord) {
    if (eventRecord.size() != wire::kEventRecordBytes) {
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
        auto found = transport_.connections().find(fd);
        if (found == transport_.connections().end() ||
            found->second->state != Connection::State::Parked)
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
    transport_.sweep(now);
    closedParked_.flush(now, [this](uint64_t count) {
        return "closed " + std::to_string(count) + " parked event wait" + (count == 1 ? "" : "s") +
               " beyond a user's share of " +
               std::to_string(std::max<size_t>(transport_.maxConnections() / 2, 1)) +
               " connections";
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
