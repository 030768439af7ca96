// The daemon under a flood from its own user: requests that declare the
// largest input and never finish, and event waits parked by the hundred.
// Each floods a spawned daemon, bounded in count, and checks what the
// daemon holds and that it still serves.
#include <gtest/gtest.h>
#include <linux/sockios.h>
#include <sys/ioctl.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstring>
#include <fstream>
#include <functional>
#include <thread>

#include "admin_protocol.h"
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

}  // namespace
}  // namespace nettlebeam::driver
