// The control-socket server: one thread, one epoll loop, every device answered
// inline on it. Event waits park their connection until an event arrives;
// device ticks come from a timer. The bytes on the socket are the
// transport's (request_transport.h); the server answers what they ask.
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
#include "request_transport.h"
#include "server_options.h"

namespace nettlebeam::driver {

class Server : public DeviceHost, private RequestDispatcher {
  public:
    explicit Server(ServerOptions options);
    ~Server() override;
    Server(const Server&) = delete;
    Server& operator=(const Server&) = delete;

    // Binds the control socket; false with a one-line reason.
    bool listen(std::string& error) { return transport_.listen(error); }
    // Creates the loop's descriptors; call after any fork.
    bool prepareLoop(std::string& error);
    // A device of any backend; empty when its settings do not decode or its
    // model cannot be made (why is logged).
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
    using Connection = driver::Connection;
    struct Device {
        std::unique_ptr<DeviceModel> model;
        bool hidden = false;  // restarting: it answers nothing and is not listed
        Clock::time_point powerOnAt;
    };

    // An orderly stop: the devices end their captures, and the clients that
    // wait for events are given those last events before the daemon goes.
    // A second stop request ends the wait.
    void beginStop();
    bool stopAnnounced() const;
    void dispatch(Connection& connection) override;
    void closing(Connection& connection) override;
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
    void reply(Connection& connection, std::vector<uint8_t> bytes) {
        transport_.reply(connection, std::move(bytes));
    }
    void fail(Connection& connection, const std::string& why) { transport_.fail(connection, why); }
    void watch(Connection& connection, uint32_t events) { transport_.watch(connection, events); }
    void closeConnection(int fd) { transport_.closeConnection(fd); }
    size_t pendingReplyBytes() const { return transport_.pendingReplyBytes(); }
    void deliverParked();
    void deliverDeferred();
    void tick();

    ServerOptions options_;
    int epollFd_ = -1;
    int timerFd_ = -1;
    int signalFd_ = -1;
    bool running_ = true;
    bool stopping_ = false;
    Clock::time_point stopDeadline_{};
    std::vector<ProcessKey> stopListeners_;  // waiting for events when the stop began
    RepeatedEvent closedParked_;             // beyond a user's share of parked waits
    std::vector<int> parked_;                // connections waiting for an event, oldest first
    std::vector<int> deferred_;              // connections waiting for a device's work
    // Outlives the devices, which hand it their teardown.
    BackgroundDisposal disposal_;
    std::map<DeviceHandle, Device> devices_;
    DeviceHandle nextHandle_ = 1;
    EventQueues queues_;
    Clock::time_point lastLivenessCheck_{};
    FaultInjector faults_;
    // Last: its destructor closes the connections before the rest goes.
    RequestTransport transport_{options_, *this};
};

}  // namespace nettlebeam::driver
