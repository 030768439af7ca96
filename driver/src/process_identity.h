// Who is on the other end of a control connection.
#pragma once

#include <optional>

#include "event_queues.h"

namespace nettlebeam::driver {

// The peer's process id (SO_PEERCRED) and that process's start time (field 22
// of /proc/<pid>/stat). Empty when either cannot be read.
std::optional<ProcessKey> peerProcess(int socketFd);

// True while the process of `key` runs (same id, same start time).
bool processRunning(const ProcessKey& key);

// Field 22 of a /proc/<pid>/stat line; the command name may hold spaces and
// parentheses, so counting starts after the last ')'.
std::optional<uint64_t> startTimeFromStat(const std::string& statLine);

}  // namespace nettlebeam::driver
