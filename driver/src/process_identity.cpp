#include "process_identity.h"

#include <sys/socket.h>

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>

namespace nettlebeam::driver {

std::optional<uint64_t> startTimeFromStat(const std::string& statLine) {
    size_t close = statLine.rfind(')');
    if (close == std::string::npos) return std::nullopt;
    std::istringstream fields(statLine.substr(close + 1));
    std::string field;
    // After the name come field 3 (state) onwards; field 22 is the 20th of those.
    for (int index = 3; index <= 22; ++index) {
        if (!(fields >> field)) return std::nullopt;
    }
    if (field.empty() || field.find_first_not_of("0123456789") != std::string::npos)
        return std::nullopt;
    return std::strtoull(field.c_str(), nullptr, 10);
}

namespace {

std::optional<uint64_t> startTimeOf(int32_t pid) {
    std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
    std::string line;
    if (!std::getline(stat, line)) return std::nullopt;
    return startTimeFromStat(line);
}

}  // namespace

bool processRunning(const ProcessKey& key) {
    return startTimeOf(key.pid) == key.startTime;
}

std::optional<ProcessKey> peerProcess(int socketFd) {
    ucred credentials{};
    socklen_t length = sizeof(credentials);
    if (getsockopt(socketFd, SOL_SOCKET, SO_PEERCRED, &credentials, &length) != 0 ||
        credentials.pid <= 0)
        return std::nullopt;
    auto start = startTimeOf(credentials.pid);
    if (!start) return std::nullopt;
    return ProcessKey{credentials.pid, *start};
}

}  // namespace nettlebeam::driver
