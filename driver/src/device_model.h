// The interface between the control-socket server and one attached device.
//
// The server owns the handles, the event queues and the request framing; a
// device model answers the requests addressed to its handle. The simulated
// device is one implementation; a backend for real hardware (or for Linux
// network interfaces acting as a TAP) would be another.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "client.h"

namespace nettlebeam::driver {

using DeviceHandle = int32_t;

// What a device answers to one request.
struct DeviceReply {
    bool ok = false;             // false: the driver fails the request
    std::vector<uint8_t> bytes;  // the reply when ok; never more than the capacity asked for
    // Handed to the client with the reply (SCM_RIGHTS). The server then keeps
    // the connection open until the client closes it or the device goes, so
    // the client can tell whether what it was given is still served.
    std::vector<wire::UniqueFd> descriptors;
    // When set, the reply is sent once the flag turns true (the server keeps
    // serving everyone else meanwhile): for work that takes as long as the
    // disk does, like writing out a capture cache.
    std::shared_ptr<const std::atomic<bool>> ready;
    // Not ok: why, when the device can say more than that it refused (the
    // daemon's log shows it).
    std::string reason;

    static DeviceReply failure(std::string why = {}) {
        DeviceReply reply;
        reply.reason = std::move(why);
        return reply;
    }
    static DeviceReply empty() { return {true, {}, {}, {}, {}}; }
    static DeviceReply of(std::vector<uint8_t> bytes) {
        return {true, std::move(bytes), {}, {}, {}};
    }
    static DeviceReply emptyWhen(std::shared_ptr<const std::atomic<bool>> ready) {
        DeviceReply reply = empty();
        reply.ready = std::move(ready);
        return reply;
    }
};

// The driver's event record kinds that a device can raise.
enum class EventKind : uint32_t {
    NewCaptureFile = 1,
    DeviceArrival = 2,
    DeviceRemoval = 3,
    CaptureState = 4,
};

// Services the server offers to its devices. Called from the server thread
// (inside handleRequest or tick) unless an implementation says otherwise.
class DeviceHost {
  public:
    virtual ~DeviceHost() = default;
    // Queue the 4108-byte event record for every client process.
    virtual void postEvent(const std::vector<uint8_t>& eventRecord) = 0;
    // The device restarts: it is announced as removed now and as arrived again,
    // under the same handle, after `downtime`.
    virtual void restartDevice(DeviceHandle handle, std::chrono::milliseconds downtime) = 0;
    // Folder for state that survives a restart of the device and of the
    // daemon (empty when the daemon keeps no state).
    virtual std::string stateDirectory() const = 0;
    // Destroys `object` away from the request loop, for teardown that waits
    // on the disk; the host waits for it before it exits. Hosts without a
    // loop to protect destroy it at once.
    virtual void disposeInBackground(std::shared_ptr<void> object) { object.reset(); }
};

class DeviceModel {
  public:
    virtual ~DeviceModel() = default;

    // One request addressed to this device. `payload` is the input after the
    // 4-byte handle; `outputCapacity` is the reply buffer the caller offers.
    virtual DeviceReply handleRequest(uint32_t code, std::span<const uint8_t> payload,
                                      uint32_t outputCapacity) = 0;

    // Called periodically (every 100 ms or so) to advance simulated state.
    virtual void tick(std::chrono::steady_clock::time_point now) = 0;

    // One line for `nettlebeamd devices`: type name, identifier, MAC, etc.
    virtual std::string describe() const = 0;

    // Called by the host when the device comes back after a restart.
    virtual void powerOn() = 0;

    // The daemon is stopping in order: end the captures, writing out what
    // they hold, and post their last events.
    virtual void shutDown() {}
};

}  // namespace nettlebeam::driver
