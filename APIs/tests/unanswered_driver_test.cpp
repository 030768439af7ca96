// A driver that takes requests and never answers them: a stopped nettlebeamd
// (SIGSTOP) and a process that accepts connections and never reads. The
// library's requests, its shutdown, beamctl and `nettlebeamd devices` end on
// their own with the transport failure instead of waiting for ever.
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "library_fixture.h"

namespace nettlebeam::apitest {
namespace {

// A hang shows as a failure within this time, not only at the ctest timeout.
constexpr std::chrono::seconds kWatchdog{60};

bool mentions(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

// Fails the test and runs `rescue` (which unblocks whatever hangs) when it is
// not destroyed within kWatchdog.
class Watchdog {
  public:
    explicit Watchdog(std::function<void()> rescue)
        : thread_([this, rescue = std::move(rescue)] {
              std::unique_lock hold(lock_);
              if (done_.wait_for(hold, kWatchdog, [this] { return finished_; })) return;
              ADD_FAILURE() << "still blocked after " << kWatchdog.count() << " s";
              rescue();
          }) {}
    ~Watchdog() {
        {
            std::lock_guard hold(lock_);
            finished_ = true;
        }
        done_.notify_one();
        thread_.join();
    }

  private:
    std::mutex lock_;
    std::condition_variable done_;
    bool finished_ = false;
    std::thread thread_;
};

// The daemon stopped with SIGSTOP until this is destroyed (or resume() is
// called), on every way out of the test.
class StoppedProcess {
  public:
    explicit StoppedProcess(pid_t pid) : pid_(pid) {
        if (kill(pid_, SIGSTOP) != 0) return;
        stopped_ = true;
        // Wait until it is stopped indeed; the status stays to be collected.
        siginfo_t info{};
        waitid(P_PID, static_cast<id_t>(pid_), &info, WSTOPPED | WNOWAIT);
    }
    ~StoppedProcess() { resume(); }
    StoppedProcess(const StoppedProcess&) = delete;
    StoppedProcess& operator=(const StoppedProcess&) = delete;
    bool stopped() const { return stopped_; }
    void resume() {
        if (stopped_.exchange(false)) kill(pid_, SIGCONT);
    }

  private:
    pid_t pid_;
    std::atomic<bool> stopped_{false};
};

// Listens on a socket of its own, accepts every connection and never reads
// from it; release() closes what it holds.
class SilentListener {
  public:
    SilentListener() {
        char folder[] = "/tmp/nbsilent.XXXXXX";
        folder_ = mkdtemp(folder);
        path_ = folder_ + "/ctl";
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        std::strcpy(address.sun_path, path_.c_str());
        listenFd_ = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
        EXPECT_EQ(bind(listenFd_, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
        EXPECT_EQ(listen(listenFd_, 64), 0);
        stopFd_ = eventfd(0, EFD_CLOEXEC);
        thread_ = std::thread([this] { run(); });
    }
    ~SilentListener() {
        release();
        thread_.join();
        close(stopFd_);
        close(listenFd_);
        unlink(path_.c_str());
        rmdir(folder_.c_str());
    }
    const std::string& path() const { return path_; }
    int accepted() const { return accepted_; }
    void release() {
        uint64_t one = 1;
        [[maybe_unused]] ssize_t written = write(stopFd_, &one, sizeof one);
    }

  private:
    void run() {
        std::vector<int> held;
        pollfd fds[2] = {{listenFd_, POLLIN, 0}, {stopFd_, POLLIN, 0}};
        while (poll(fds, 2, -1) >= 0 && fds[1].revents == 0) {
            if (fds[0].revents == 0) continue;
            int fd = accept4(listenFd_, nullptr, nullptr, SOCK_CLOEXEC);
            if (fd < 0) continue;
            held.push_back(fd);
            ++accepted_;
        }
        for (int fd : held) close(fd);
    }

    std::string folder_, path_;
    int listenFd_ = -1;
    int stopFd_ = -1;
    std::atomic<int> accepted_{0};
    std::thread thread_;
};

testsupport::ProcessResult runBeamctlList(const std::string& controlPath) {
    return testsupport::runProcess({BEAMCTL_PATH, "list"}, kWatchdog,
                                   {"NETTLEBEAM_CONTROL=" + controlPath});
}

testsupport::ProcessResult runDevices(const std::string& controlPath) {
    return testsupport::runProcess(
        {testsupport::Daemon::binaryPath(), "devices", "--control", controlPath}, kWatchdog);
}

// Neither tool waits for ever: beamctl finds no device, `nettlebeamd devices`
// says that the daemon did not answer.
void expectToolsGiveUp(const std::string& controlPath) {
    const testsupport::ProcessResult list = runBeamctlList(controlPath);
    EXPECT_FALSE(list.timedOut);
    EXPECT_EQ(list.exitStatus, 0) << list.err;
    EXPECT_EQ(list.out, "Found 0 nettlebeams\n");

    const testsupport::ProcessResult devices = runDevices(controlPath);
    EXPECT_FALSE(devices.timedOut);
    EXPECT_EQ(devices.exitStatus, 1);
    EXPECT_TRUE(mentions(devices.err, "did not answer")) << devices.err;
}

using UnansweredDriverTest = LibraryTest;

TEST_F(UnansweredDriverTest, AStoppedDaemonFailsRequestsAndHoldsUpNothing) {
    const int32_t handle = attachListed({"--type", "5"});
    StoppedProcess stopped(daemon().pid());
    ASSERT_TRUE(stopped.stopped());
    const Watchdog watchdog([&] { stopped.resume(); });

    uint8_t mac[6] = {};
    EXPECT_EQ(NettlebeamAPIGetDeviceMAC(handle, mac), -2) << "the transport failure";
    // The monitor is waiting for an event from the stopped daemon.
    EXPECT_EQ(NettlebeamAPIUninitialize(), 0);
    // In a process of its own, the monitor is stopped while it waits for the
    // stopped daemon's device list.
    expectToolsGiveUp(daemon().controlPath());

    // Going on, the daemon answers the requests it had taken, then new ones.
    stopped.resume();
    EXPECT_EQ(NettlebeamAPIInitialize(), 0);
    EXPECT_TRUE(eventually([&] { return isListed(handle); }));
    EXPECT_EQ(NettlebeamAPIGetDeviceMAC(handle, mac), 0);
}

TEST_F(UnansweredDriverTest, AListenerThatNeverReadsFailsRequestsAndHoldsUpNothing) {
    SilentListener silent;
    const Watchdog watchdog([&] { silent.release(); });
    ::setenv("NETTLEBEAM_CONTROL", silent.path().c_str(), 1);

    ASSERT_EQ(NettlebeamAPIInitialize(), 0);
    // The monitor has asked for the device list and waits for its reply.
    ASSERT_TRUE(eventually([&] { return silent.accepted() >= 1; }));
    EXPECT_EQ(NettlebeamAPIUninitialize(), 0);
    EXPECT_TRUE(listedHandles().empty());

    expectToolsGiveUp(silent.path());
}

}  // namespace
}  // namespace nettlebeam::apitest
