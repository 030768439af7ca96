// nettlebeamd's server as a client sees it: raw bytes sent on one
// connection to a server with simulated devices attached. Whatever is sent,
// the server answers with a well-formed reply that fits the capacity asked
// for, or closes the connection without one, and keeps serving.
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "admin_protocol.h"
#include "frame.h"
#include "fuzz_check.h"
#include "server.h"
#include "sim/simulated_device.h"

using namespace nettlebeam;
using namespace nettlebeam::driver;

namespace {

// The server thread may legitimately wait for the disk (a device restart
// closes and flushes its capture file), which on a loaded machine has taken
// more than 5 s; a server that is stuck stays stuck far longer.
constexpr int kReplyTimeoutMs = 30000;

struct RunningServer {
    std::string path;
    std::vector<DeviceHandle> handles;
};

// One server for the whole run: started on first use, never stopped (the
// process ends with the fuzzer).
const RunningServer& runningServer() {
    static const RunningServer running = [] {
        RunningServer result;
        char folder[] = "/tmp/nettlebeam-fuzz-XXXXXX";
        FUZZ_CHECK(mkdtemp(folder) != nullptr);
        result.path = std::string(folder) + "/control";
        ServerOptions options;
        options.controlPath = result.path;
        options.readDeadline = std::chrono::milliseconds(200);
        options.writeStallDeadline = std::chrono::milliseconds(1000);
        auto* server = new Server(options);
        std::string error;
        FUZZ_CHECK(server->listen(error));
        // Identifiers of the ten-gigabit, a gigabit copper and the fast-Ethernet type.
        for (uint8_t id : {0x4F, 0x10, 0x50}) {
            SimulatedDeviceSettings settings;
            settings.hardwareId = id;
            settings.idleTraffic = false;
            result.handles.push_back(
                server->attachModel([settings](DeviceHandle handle, DeviceHost& host) {
                    return makeSimulatedDevice(settings, handle, host);
                }));
        }
        std::thread([server] {
            std::string loopError;
            FUZZ_CHECK(server->prepareLoop(loopError));
            server->run();
        }).detach();
        return result;
    }();
    return running;
}

// Requests that would change the server for every later input (stop it,
// add or remove devices, arm faults) are turned into the device listing.
std::vector<uint8_t> withoutLastingEffects(const uint8_t* data, size_t size) {
    std::vector<uint8_t> bytes(data, data + size);
    if (bytes.size() < wire::kHeaderSize) return bytes;
    const uint32_t code = bytes[4] | bytes[5] << 8 | bytes[6] << 16 | uint32_t{bytes[7]} << 24;
    if (code == admin::kStop || code == admin::kAttach || code == admin::kDetach ||
        code == admin::kInject) {
        const uint32_t listing = admin::kDevices;
        for (int i = 0; i < 4; ++i) bytes[4 + i] = static_cast<uint8_t>(listing >> (8 * i));
    }
    return bytes;
}

int connectTo(const std::string& path) {
    const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    FUZZ_CHECK(fd >= 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    path.copy(address.sun_path, sizeof address.sun_path - 1);
    FUZZ_CHECK(connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0);
    return fd;
}

void sendAll(int fd, const std::vector<uint8_t>& bytes) {
    size_t sent = 0;
    while (sent < bytes.size()) {
        const ssize_t n = send(fd, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
        if (n <= 0) return;  // the server may close early on a bad header
        sent += static_cast<size_t>(n);
    }
}

std::vector<uint8_t> readToEnd(int fd) {
    std::vector<uint8_t> reply;
    uint8_t chunk[65536];
    for (;;) {
        // A server that neither answers nor closes is stuck. libFuzzer's
        // timeout alarm interrupts the wait now and then: wait on.
        const auto deadline =
            std::chrono::steady_clock::now() + std::chrono::milliseconds(kReplyTimeoutMs);
        int ready = -1;
        do {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                deadline - std::chrono::steady_clock::now());
            pollfd readable{fd, POLLIN, 0};
            ready = poll(&readable, 1, static_cast<int>(std::max<int64_t>(0, left.count())));
        } while (ready < 0 && errno == EINTR);
        FUZZ_CHECK(ready == 1);
        const ssize_t n = recv(fd, chunk, sizeof chunk, 0);
        if (n <= 0) return reply;
        reply.insert(reply.end(), chunk, chunk + n);
    }
}

void checkReply(const std::vector<uint8_t>& request, const std::vector<uint8_t>& reply) {
    if (reply.empty()) return;
    // Only a complete, valid request header gets an answer.
    FUZZ_CHECK(request.size() >= wire::kHeaderSize);
    const auto asked = wire::decodeRequestHeader(request.data());
    FUZZ_CHECK(asked.has_value());
    FUZZ_CHECK(request.size() >= wire::kHeaderSize + asked->inputLength);
    FUZZ_CHECK(reply.size() >= wire::kHeaderSize);
    const auto header = wire::decodeReplyHeader(reply.data(), asked->outputCapacity);
    FUZZ_CHECK(header.has_value());
    FUZZ_CHECK(reply.size() == wire::kHeaderSize + header->length);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const RunningServer& server = runningServer();
    const std::vector<uint8_t> request = withoutLastingEffects(data, size);
    const int fd = connectTo(server.path);
    sendAll(fd, request);
    shutdown(fd, SHUT_WR);
    const std::vector<uint8_t> reply = readToEnd(fd);
    close(fd);
    checkReply(request, reply);
    return 0;
}
