// The daemon under a flood from its own user: requests that declare the
// largest input and never finish, and event waits parked by the hundred.
// Each floods a spawned daemon, bounded in count, and checks what the
// daemon holds and that it still serves.
#include <gtest/gtest.h>
#include <linux/sockios.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <fstream>
#include <functional>
#include <sstream>
#include <thread>

#include "admin_protocol.h"
#include "client.h"
#include "frame.h"
#include "nettlebeam_testsupport.h"

#if defined(__SANITIZE_ADDRESS__)
#define NETTLEBEAM_TEST_ASAN 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define NETTLEBEAM_TEST_ASAN 1
#endif
#endif

namespace nettlebeam::driver {
namespace {

using testsupport::Daemon;

// Memory the allocator may keep beyond what the daemon uses:
// AddressSanitizer holds freed blocks in a quarantine of up to 256 MiB.
#ifdef NETTLEBEAM_TEST_ASAN
constexpr size_t kAllocatorSlackKb = 256 * 1024;
#else
constexpr size_t kAllocatorSlackKb = 0;
#endif

bool eventually(const std::function<bool()>& done) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (!done()) {
        if (std::chrono::steady_clock::now() > deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return true;
}

// A field of /proc/<pid>/status in KiB ("VmRSS", "VmHWM").
size_t statusKb(int pid, const std::string& field) {
    std::ifstream in("/proc/" + std::to_string(pid) + "/status");
    for (std::string line; std::getline(in, line);)
        if (line.rfind(field + ":", 0) == 0) return std::stoul(line.substr(field.size() + 1));
    return 0;
}

int connectTo(const std::string& path) {
    const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::strncpy(address.sun_path, path.c_str(), sizeof(address.sun_path) - 1);
    if (connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof(address)) != 0) {
        close(fd);
        return -1;
    }
    return fd;
}

bool sendRequest(int fd, const wire::RequestHeader& header, size_t inputBytes) {
    std::vector<uint8_t> bytes(wire::kHeaderSize + inputBytes, 0x5A);
    wire::encodeRequestHeader(header, bytes.data());
    return send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL) == static_cast<ssize_t>(bytes.size());
}

// The daemon has taken every byte sent on `fd` (or closed it).
bool allRead(int fd) {
    int unread = 0;
    return ioctl(fd, SIOCOUTQ, &unread) == 0 && unread == 0;
}

// Readable now: a reply, or the end of the connection.
bool answered(int fd) {
    pollfd polled{fd, POLLIN, 0};
    return poll(&polled, 1, 0) == 1;
}

// The result in the reply header on `fd`, or 1 when the connection ended
// without one (or none came in a time only a fault takes).
int32_t replyResult(int fd) {
    pollfd polled{fd, POLLIN, 0};
    if (poll(&polled, 1, 30000) != 1) return 1;
    uint8_t header[wire::kHeaderSize];
    if (recv(fd, header, sizeof header, MSG_WAITALL) != static_cast<ssize_t>(sizeof header))
        return 1;
    auto decoded = wire::decodeReplyHeader(header, 4108);
    return decoded ? decoded->result : 1;
}

constexpr uint32_t kEnumerate = 0xCB202000;
constexpr uint32_t kEventWait = 0xCB203400;

class DescriptorsForTheTest {
  public:
    explicit DescriptorsForTheTest(rlim_t wanted) {
        getrlimit(RLIMIT_NOFILE, &saved_);
        rlimit raised = saved_;
        raised.rlim_cur = std::max(raised.rlim_cur, wanted);
        raised.rlim_max = std::max(raised.rlim_max, wanted);
        ok_ = setrlimit(RLIMIT_NOFILE, &raised) == 0;
    }
    ~DescriptorsForTheTest() { setrlimit(RLIMIT_NOFILE, &saved_); }
    DescriptorsForTheTest(const DescriptorsForTheTest&) = delete;
    DescriptorsForTheTest& operator=(const DescriptorsForTheTest&) = delete;
    bool ok() const { return ok_; }

  private:
    rlimit saved_{};
    bool ok_ = false;
};

struct Sockets {
    std::vector<int> fds;
    ~Sockets() {
        for (int fd : fds)
            if (fd >= 0) close(fd);
    }
};

TEST(DaemonFlood, UnfinishedRequestsHoldOnlyWhatArrivedAndTheMemoryIsGivenBack) {
    constexpr size_t kConnections = 1200;
    DescriptorsForTheTest descriptors(kConnections + 256);
    ASSERT_TRUE(descriptors.ok());
    Daemon daemon({}, 4096);  // room for every connection of the flood
    ASSERT_EQ(daemon.run({"devices"}).exitStatus, 0);
    const size_t idleKb = statusKb(daemon.pid(), "VmRSS");
    ASSERT_GT(idleKb, 0u);

    // Each declares the largest input; half stop after the header, half one
    // byte short of the end.
    Sockets flood;
    for (size_t i = 0; i < kConnections; ++i) {
        const int fd = connectTo(daemon.controlPath());
        ASSERT_GE(fd, 0) << "connection " << i;
        flood.fds.push_back(fd);
        const size_t sent = i % 2 == 0 ? 0 : wire::kMaxInputBytes - 1;
        sendRequest(fd, {admin::kAttach, wire::kMaxInputBytes, 4}, sent);
    }
    ASSERT_TRUE(eventually([&] {
        return std::all_of(flood.fds.begin(), flood.fds.end(), allRead);
    })) << "the daemon did not read what was sent";
    // The daemon answers this after what it took from the flood.
    ASSERT_EQ(daemon.run({"devices"}).exitStatus, 0);
    const size_t peakKb = statusKb(daemon.pid(), "VmHWM");
    // Declared: 75 MiB; sent: 37 MiB; the bound for unfinished requests: 8 MiB.
    EXPECT_LT(peakKb, idleKb + 16 * 1024 + kAllocatorSlackKb)
        << "idle " << idleKb << " KiB, at the flood's height " << peakKb << " KiB";

    for (int& fd : flood.fds) {
        close(fd);
        fd = -1;
    }
    size_t afterKb = 0;
    EXPECT_TRUE(eventually([&] {
        afterKb = statusKb(daemon.pid(), "VmRSS");
        return afterKb <= 2 * idleKb + kAllocatorSlackKb;
    })) << "idle "
        << idleKb << " KiB, after the flood " << afterKb << " KiB";
    EXPECT_EQ(daemon.run({"devices"}).exitStatus, 0);
}

// What the flooding process saw, written back to the test.
struct FloodOutcome {
    int failedOldest = 0;  // waits answered with a failure, all older than any still parked
    int stillParked = 0;
    int otherwise = 0;  // answered in another way, or out of order
};

// In a child process: parks `waits` event waits, then reports which were
// failed once the daemon has read them all, and keeps them open until
// `hold` is closed by the test.
pid_t floodWithWaits(const std::string& path, int waits, const int report[2], const int hold[2]) {
    const pid_t child = fork();
    if (child != 0) return child;
    close(report[0]);
    close(hold[1]);
    std::vector<uint8_t> handles(80);
    wire::transact(path, kEnumerate, nullptr, 0, handles.data(), 80);
    std::vector<int> fds;
    for (int i = 0; i < waits; ++i) {
        const int fd = connectTo(path);
        if (fd >= 0) sendRequest(fd, {kEventWait, 0, 4108}, 0);
        fds.push_back(fd);
    }
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (!std::all_of(fds.begin(), fds.end(), [](int fd) { return fd < 0 || allRead(fd); }) &&
           std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    // Answered after every wait above was taken.
    std::vector<uint8_t> listing(4096);
    wire::transact(path, admin::kDevices, nullptr, 0, listing.data(), 4096);
    FloodOutcome outcome;
    for (int fd : fds) {
        if (fd >= 0 && !answered(fd))
            ++outcome.stillParked;
        else if (fd >= 0 && outcome.stillParked == 0 && replyResult(fd) == wire::kDriverFailed)
            ++outcome.failedOldest;
        else
            ++outcome.otherwise;
    }
    if (write(report[1], &outcome, sizeof outcome) != sizeof outcome) _exit(1);
    char byte;
    while (read(hold[0], &byte, 1) > 0) {
    }
    _exit(0);
}

TEST(DaemonFlood, ParkedEventWaitsLeaveRoomForRequests) {
    // 48 connections at most, so a user's parked waits get 24.
    Daemon daemon({}, 64);
    const std::string path = daemon.controlPath();
    // This process's wait, parked before the flood: older than all of it.
    std::vector<uint8_t> handles(80);
    ASSERT_EQ(wire::transact(path, kEnumerate, nullptr, 0, handles.data(), 80), 0);
    Sockets mine;
    mine.fds.push_back(connectTo(path));
    ASSERT_TRUE(sendRequest(mine.fds[0], {kEventWait, 0, 4108}, 0));
    ASSERT_TRUE(eventually([&] { return allRead(mine.fds[0]); }));

    // Another process of the same user parks 60.
    int report[2], hold[2];
    ASSERT_EQ(pipe(report), 0);
    ASSERT_EQ(pipe(hold), 0);
    const pid_t flooder = floodWithWaits(path, 60, report, hold);
    close(report[1]);
    close(hold[0]);
    FloodOutcome outcome;
    const bool reported = read(report[0], &outcome, sizeof outcome) == sizeof outcome;
    close(report[0]);
    // Requests are served while the flooder keeps its waits open.
    const auto devices = daemon.run({"devices"});
    close(hold[1]);
    waitpid(flooder, nullptr, 0);
    ASSERT_TRUE(reported);
    EXPECT_EQ(devices.exitStatus, 0) << devices.err;
    EXPECT_EQ(outcome.otherwise, 0) << "only the oldest waits are failed";
    EXPECT_GT(outcome.stillParked, 0);
    EXPECT_LE(outcome.stillParked + 1, 24) << "within the user's share";
    EXPECT_EQ(outcome.failedOldest + outcome.stillParked, 60);

    // The flooder's own waits went first: this process's is still parked,
    // and an event reaches it.
    EXPECT_FALSE(answered(mine.fds[0]));
    daemon.event({"5", "3"});
    EXPECT_EQ(replyResult(mine.fds[0]), 4108);
    // The closures are logged together on the daemon's next tick.
    EXPECT_TRUE(eventually([&] {
        std::stringstream log;
        log << std::ifstream(daemon.folder() + "/nettlebeamd.log").rdbuf();
        return log.str().find("parked event waits beyond a user's share") != std::string::npos;
    }));
}

}  // namespace
}  // namespace nettlebeam::driver
