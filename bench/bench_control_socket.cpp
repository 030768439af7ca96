// The cost of one request through nettlebeamd's control socket against the
// bare AF_UNIX floor (connect, send a request, read a reply, close), both
// measured in one run with client and server pinned alike: first on the same
// CPU, then on different CPUs. Also the idle CPU of `serve --fleet demo`.
// Prints lines "bench <name>: <value> <unit> (<ratio>x <baseline name>)".
#include <sched.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "client.h"
#include "frame.h"
#include "nettlebeam_testsupport.h"
#include "request_codes.h"

namespace {

using Clock = std::chrono::steady_clock;
constexpr uint32_t kHardwareId = nettlebeam::wire::code::kHardwareId;
constexpr auto kRoundTime = std::chrono::milliseconds(200);
constexpr int kRounds = 10;

bool pin(pid_t pid, int cpu) {
    cpu_set_t set;
    CPU_ZERO(&set);
    CPU_SET(cpu, &set);
    return sched_setaffinity(pid, sizeof(set), &set) == 0;
}

sockaddr_un addressOf(const std::string& path) {
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::strncpy(address.sun_path, path.c_str(), sizeof(address.sun_path) - 1);
    return address;
}

// The floor: a server that does nothing but accept, read the request, write a
// one-byte reply with its header and close, in its own process.
pid_t startBareServer(const std::string& path) {
    sockaddr_un address = addressOf(path);
    int listener = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    unlink(path.c_str());
    if (bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof(address)) != 0 ||
        listen(listener, SOMAXCONN) != 0) {
        std::perror("bare server");
        std::exit(1);
    }
    pid_t pid = fork();
    if (pid != 0) {
        close(listener);
        return pid;
    }
    uint8_t reply[nettlebeam::wire::kHeaderSize + 1] = {};
    nettlebeam::wire::encodeReplyHeader({1, 1}, reply);
    reply[nettlebeam::wire::kHeaderSize] = 0x4F;
    for (;;) {
        int fd = accept(listener, nullptr, nullptr);
        if (fd < 0) continue;
        uint8_t request[nettlebeam::wire::kHeaderSize + 4];
        size_t got = 0;
        while (got < sizeof(request)) {
            ssize_t n = recv(fd, request + got, sizeof(request) - got, 0);
            if (n <= 0) break;
            got += static_cast<size_t>(n);
        }
        if (got == sizeof(request)) send(fd, reply, sizeof(reply), MSG_NOSIGNAL);
        close(fd);
    }
}

pid_t serverPid(const std::string& path) {
    sockaddr_un address = addressOf(path);
    int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    ucred credentials{};
    socklen_t length = sizeof(credentials);
    if (connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof(address)) != 0 ||
        getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &credentials, &length) != 0)
        credentials.pid = -1;
    close(fd);
    return credentials.pid;
}

// Microseconds per call over one round.
double roundMicros(const std::function<bool()>& call) {
    long calls = 0;
    auto start = Clock::now();
    auto end = start + kRoundTime;
    while (Clock::now() < end) {
        if (!call()) return -1;
        ++calls;
    }
    return std::chrono::duration<double, std::micro>(Clock::now() - start).count() /
           static_cast<double>(calls);
}

void report(const std::string& name, double value, const char* unit, double baseline,
            const std::string& baselineName) {
    std::printf("bench %s: %.2f %s (%.2fx %s)\n", name.c_str(), value, unit, value / baseline,
                baselineName.c_str());
    std::fflush(stdout);
}

// Alternates short rounds of both so that noise hits them alike; best round each.
void compare(const std::string& placement, const std::string& barePath,
             const std::string& daemonPath, int32_t handle) {
    uint8_t reply = 0;
    auto bare = [&] {
        return nettlebeam::wire::transact(barePath, kHardwareId, &handle, 4, &reply, 1) == 1;
    };
    auto daemon = [&] {
        return nettlebeam::wire::transact(daemonPath, kHardwareId, &handle, 4, &reply, 1) == 1;
    };
    double bestBare = 1e18, bestDaemon = 1e18;
    for (int round = 0; round < kRounds; ++round) {
        double b = roundMicros(bare);
        double d = roundMicros(daemon);
        if (b < 0 || d < 0) {
            std::fprintf(stderr, "bench_control_socket: a request failed\n");
            std::exit(1);
        }
        bestBare = std::min(bestBare, b);
        bestDaemon = std::min(bestDaemon, d);
    }
    std::string floorName = "bare_unix_round_trip_" + placement;
    report(floorName, bestBare, "us", bestBare, floorName);
    report("nettlebeamd_round_trip_" + placement, bestDaemon, "us", bestBare, floorName);
}

// utime + stime of a process in clock ticks.
long cpuTicks(pid_t pid) {
    std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
    std::string line;
    std::getline(stat, line);
    std::istringstream fields(line.substr(line.rfind(')') + 2));
    std::string field;
    long utime = 0, stime = 0;
    for (int index = 3; index <= 15 && fields >> field; ++index) {
        if (index == 14) utime = std::stol(field);
        if (index == 15) stime = std::stol(field);
    }
    return utime + stime;
}

// Percent of a core the daemon used while nobody asked it anything.
double idlePercent(const nettlebeam::testsupport::Daemon& daemon) {
    pid_t pid = serverPid(daemon.controlPath());
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    long before = cpuTicks(pid);
    auto start = Clock::now();
    std::this_thread::sleep_for(std::chrono::seconds(4));
    long used = cpuTicks(pid) - before;
    double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    return 100.0 * static_cast<double>(used) / static_cast<double>(sysconf(_SC_CLK_TCK)) / seconds;
}

void idleCpu() {
    {
        nettlebeam::testsupport::Daemon demo({"--fleet", "demo"});
        report("nettlebeamd_idle_cpu_demo_fleet", idlePercent(demo), "% of a core", 1.0,
               "budget of 1%");
    }
    // The same device types without generated traffic: the server and the
    // devices' own timers alone.
    nettlebeam::testsupport::Daemon quiet;
    for (const char* type : {"12", "9", "13"}) quiet.attach({"--type", type});
    report("nettlebeamd_idle_cpu_three_devices_without_traffic", idlePercent(quiet), "% of a core",
           1.0, "budget of 1%");
}

}  // namespace

int main() {
    nettlebeam::testsupport::Daemon daemon;
    int32_t handle = daemon.attach({"--type", "12"});
    std::string barePath = daemon.folder() + "/bare";
    pid_t bare = startBareServer(barePath);
    pid_t served = serverPid(daemon.controlPath());
    long cpus = sysconf(_SC_NPROCESSORS_ONLN);

    struct Placement {
        const char* name;
        int clientCpu, serverCpu;
    };
    std::vector<Placement> placements = {{"same_cpu", 0, 0}};
    if (cpus >= 2) placements.push_back({"different_cpus", 0, 1});
    for (const Placement& placement : placements) {
        if (!pin(0, placement.clientCpu) || !pin(bare, placement.serverCpu) ||
            !pin(served, placement.serverCpu)) {
            std::fprintf(stderr, "bench_control_socket: cannot pin to CPU %d/%d\n",
                         placement.clientCpu, placement.serverCpu);
            continue;
        }
        compare(placement.name, barePath, daemon.controlPath(), handle);
    }
    kill(bare, SIGKILL);
    waitpid(bare, nullptr, 0);
    cpu_set_t all;
    CPU_ZERO(&all);
    for (long cpu = 0; cpu < cpus; ++cpu) CPU_SET(cpu, &all);
    sched_setaffinity(0, sizeof(all), &all);
    idleCpu();
    return 0;
}
