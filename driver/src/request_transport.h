// The control socket's transport: accepting connections (from the daemon's
// user, at most so many), reading requests within a budget of bytes,
// writing replies with the descriptors they hand over, and the deadlines
// of both. What a request asks is for its dispatcher to answer.
#pragma once

#include <sys/types.h>

#include <array>
#include <atomic>
#include <chrono>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "client.h"
#include "device_model.h"
#include "event_queues.h"
#include "frame.h"
#include "log.h"
#include "server_options.h"

namespace nettlebeam::driver {

// One client connection: it carries one request and its reply.
struct Connection {
    using Clock = std::chrono::steady_clock;

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

// Who answers the requests the transport reads.
class RequestDispatcher {
  public:
    virtual ~RequestDispatcher() = default;
    // The request has arrived whole: answer it with reply() or fail(), now
    // or later (a parked or deferred connection).
    virtual void dispatch(Connection& connection) = 0;
    // The connection closes: forget any wait it is part of.
    virtual void closing(Connection& connection) = 0;
};

class RequestTransport {
  public:
    using Clock = std::chrono::steady_clock;
    using Connections = std::map<int, std::unique_ptr<Connection>>;

    RequestTransport(const ServerOptions& options, RequestDispatcher& dispatcher)
        : options_(options), dispatcher_(dispatcher) {}
    ~RequestTransport();
    RequestTransport(const RequestTransport&) = delete;
    RequestTransport& operator=(const RequestTransport&) = delete;

    // Binds the control socket; false with a one-line reason.
    bool listen(std::string& error);
    // Watches the listening socket and the connections in `epollFd`.
    void start(int epollFd);
    // Unlinks the control socket when it is still ours.
    void removeSocket();
    int listenFd() const { return listenFd_; }

    void acceptAll();
    Connection* find(int fd) {
        auto found = connections_.find(fd);
        return found == connections_.end() ? nullptr : found->second.get();
    }
    const Connections& connections() const { return connections_; }
    size_t maxConnections() const { return maxConnections_; }
    // The connection's descriptor is ready for what its state waits for.
    void onReady(Connection& connection) {
        if (connection.state == Connection::State::Writing)
            onWritable(connection);
        else
            onReadable(connection);
    }
    size_t pendingReplyBytes() const;

    void reply(Connection& connection, std::vector<uint8_t> bytes);
    void fail(Connection& connection, const std::string& why);
    void watch(Connection& connection, uint32_t events);
    void closeConnection(int fd);
    // Periodic: closes the connections past their deadline, logs what the
    // limits refused, hands freed memory back.
    void sweep(Clock::time_point now);

  private:
    // Out of descriptors (or kernel memory): the listening socket is not
    // watched until a connection closes or a second has passed.
    void pauseAccepting(int error);
    void resumeAccepting();
    // Closes a connection from another user; true when the peer (`uid`)
    // may stay.
    bool peerAllowed(int fd, uid_t& uid);
    // At the connection limit: closes the oldest connection still waiting
    // for its request; false when there is none.
    bool makeRoom();
    void onReadable(Connection& connection);
    void onWritable(Connection& connection);
    // Appends `count` bytes of staging_ to the request's input; false when
    // the connection was closed for want of room.
    bool takeInput(Connection& connection, size_t count);
    // Sets the bytes the request holds while it is still arriving.
    void holdInput(Connection& connection, size_t bytes);
    // Closes the oldest other unfinished requests until `more` bytes fit
    // under the bound; false when they cannot.
    bool makeRoomForInput(const Connection& connection, size_t more);
    void flush(Connection& connection);

    const ServerOptions& options_;
    RequestDispatcher& dispatcher_;
    int listenFd_ = -1;
    int epollFd_ = -1;
    bool listening_ = false;         // the listening socket is in epoll
    bool outOfDescriptors_ = false;  // an episode is under way (logged once)
    Clock::time_point retryAcceptAt_{};
    size_t maxConnections_ = 0;
    uint64_t nextSerial_ = 0;               // age of connections
    RepeatedEvent closedForRoom_;           // at the connection limit
    RepeatedEvent stalled_;                 // past their deadline
    RepeatedEvent closedForBytes_;          // at the bound of bytes for unfinished requests
    size_t requestBytes_ = 0;               // held by requests still arriving
    std::map<uint64_t, int> holdingInput_;  // serial -> fd of those, oldest first
    size_t releasedBytes_ = 0;              // freed since memory was last handed back
    Clock::time_point lastTrim_{};
    std::vector<uid_t> refusedUsers_;  // logged once each
    ino_t socketInode_ = 0;
    Connections connections_;
    std::array<uint8_t, 16384> staging_{};  // input as read, before it joins its request
};

}  // namespace nettlebeam::driver
