// The control-socket server: one thread, one epoll loop, every device answered
// inline on it. Event waits park their connection until an event arrives;
// device ticks come from a timer.
#pragma once

#include <sys/types.h>

#include <array>
#include <chrono>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "background_disposal.h"
#include "device_backend.h"
#include "device_model.h"
#include "event_queues.h"
#include "fault_injection.h"
#include "frame.h"
#include "log.h"

namespace nettlebeam::driver {

struct ServerOptions {
    std::string controlPath;
    // The daemon's own folder on a default control path (see
    // wire::ControlLayout); empty for a path given in full.
    std::string privateFolder;
    std::string stateDirectory;  // empty: no state kept
    std::chrono::milliseconds readDeadline{5000};
    std::chrono::milliseconds writeStallDeadline{30000};
    std::chrono::milliseconds forgetProcessAfter{30000};
    size_t eventQueueBound = 1024;
    // Open connections at most; 0: three quarters of the descriptor limit.
    // At the limit the oldest connection still waiting for its request is
    // closed to make room.
    size_t maxConnections = 0;
    // Bytes that replies not yet taken by their clients may hold, all
    // connections together: memory capture data requests get no more than
    // is left (their unread blocks wait in the capture for the next read).
    size_t pendingReplyBudget = 128u << 20;
    // Bytes that requests still arriving may hold, all connections
    // together: at the limit the oldest unfinished request is closed to
    // make room (a request's buffer grows with what arrives, so only bytes
    // sent count).
    size_t pendingRequestBudget = 8u << 20;
};

class Server : public DeviceHost {
  public:
    explicit Server(ServerOptions options);
    ~Server() override;
    Server(const Server&) = delete;
    Server& operator=(const Server&) = delete;

    // Binds the control socket; false with a one-line reason.
    bool listen(std::string& error);
    // Creates the loop's descriptors; call after any fork.
    bool prepareLoop(std::string& error);
    // A device of any backend; empty when its settings do not decode.
    std::optional<DeviceHandle> attach(const DeviceSpec& device);
    // The factory builds the model for the device's handle.
    using ModelFactory = driver::ModelFactory;
    DeviceHandle attachModel(const ModelFactory& make);
    // Serves until SIGINT, SIGTERM or a stop request; removes the socket.
    void run();

    void postEvent(const std::vector<uint8_t>& eventRecord) override;
    void restartDevice(DeviceHandle handle, std::chrono::milliseconds downtime) override;
    std::string stateDirectory() const override { return options_.stateDirectory; }
    void disposeInBackground(std::shared_ptr<void> object) override {
        disposal_.dispose(std::move(object));
    }

  private:
    using Clock = std::chrono::steady_clock;
    struct Connection;
    struct Device {
        std::unique_ptr<DeviceModel> model;
        bool hidden = false;  // restarting: it answers nothing and is not listed
        Clock::time_point powerOnAt;
    };

    void acceptAll();
    // An orderly stop: the devices end their captures, and the clients that
    // wait for events are given those last events before the daemon goes.
    // A second stop request ends the wait.
    void beginStop();
    bool stopAnnounced() const;
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
    size_t pendingReplyBytes() const;
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
    void dispatch(Connection& connection);
    void answerDevice(Connection& connection);
    void answerEnumeration(Connection& connection);
    void answerEventWait(Connection& connection);
    // Before `connection` parks: fails the oldest parked waits of its user
    // (of its own process first) until the user is below its share.
    void makeRoomToPark(const Connection& connection);
    void answerAdmin(Connection& connection);
    void answerAttach(Connection& connection, const DeviceBackend& backend);
    void answerShare(Connection& connection);
    // Where every request meets the faults armed for it: takes the one for
    // this request (of device `handle`, or of none); true when it failed or
    // replaced the request (the connection is answered). A fault that cuts
    // the reply short marks the connection and lets the request go on.
    // `what` names the request in the log.
    bool answeredByFault(Connection& connection, std::optional<DeviceHandle> handle,
                         const std::string& what);
    // Closes the connections that keep shared memory of `handle` served.
    void releaseShared(DeviceHandle handle);
    void reply(Connection& connection, std::vector<uint8_t> bytes);
    void fail(Connection& connection, const std::string& why);
    void flush(Connection& connection);
    void watch(Connection& connection, uint32_t events);
    void closeConnection(int fd);
    void deliverParked();
    void deliverDeferred();
    void tick();
    void removeSocket();

    ServerOptions options_;
    int listenFd_ = -1;
    int epollFd_ = -1;
    int timerFd_ = -1;
    int signalFd_ = -1;
    bool running_ = true;
    bool stopping_ = false;
    Clock::time_point stopDeadline_{};
    std::vector<ProcessKey> stopListeners_;  // waiting for events when the stop began
    bool listening_ = false;                 // the listening socket is in epoll
    bool outOfDescriptors_ = false;          // an episode is under way (logged once)
    Clock::time_point retryAcceptAt_{};
    size_t maxConnections_ = 0;
    uint64_t nextSerial_ = 0;               // age of connections
    RepeatedEvent closedForRoom_;           // at the connection limit
    RepeatedEvent stalled_;                 // past their deadline
    RepeatedEvent closedParked_;            // beyond a user's share of parked waits
    RepeatedEvent closedForBytes_;          // at the bound of bytes for unfinished requests
    size_t requestBytes_ = 0;               // held by requests still arriving
    std::map<uint64_t, int> holdingInput_;  // serial -> fd of those, oldest first
    size_t releasedBytes_ = 0;              // freed since memory was last handed back
    Clock::time_point lastTrim_{};
    std::vector<uid_t> refusedUsers_;  // logged once each
    ino_t socketInode_ = 0;
    std::map<int, std::unique_ptr<Connection>> connections_;
    std::array<uint8_t, 16384> staging_{};  // input as read, before it joins its request
    std::vector<int> parked_;               // connections waiting for an event, oldest first
    std::vector<int> deferred_;             // connections waiting for a device's work
    // Outlives the devices, which hand it their teardown.
    BackgroundDisposal disposal_;
    std::map<DeviceHandle, Device> devices_;
    DeviceHandle nextHandle_ = 1;
    EventQueues queues_;
    Clock::time_point lastLivenessCheck_{};
    FaultInjector faults_;
};

}  // namespace nettlebeam::driver
