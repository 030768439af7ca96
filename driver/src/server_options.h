// What the daemon's operator and its tests can set for the control-socket
// server, its transport included.
#pragma once

#include <chrono>
#include <cstddef>
#include <string>

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

}  // namespace nettlebeam::driver
