// The server in this process at the edge of its descriptors: a cap on open
// connections that makes room by closing the oldest idle one, and running
// out of descriptors altogether, which must not turn the loop into a spin.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <string_view>
#include <thread>

#include "admin_protocol.h"
#include "client.h"
#include "server.h"

namespace nettlebeam::driver {
namespace {

size_t countLines(const std::string& file, const std::string& part) {
    std::ifstream in(file);
    size_t count = 0;
    for (std::string line; std::getline(in, line);)
        if (line.find(part) != std::string::npos) ++count;
    return count;
}

// countLines on a file already open: it needs no descriptor.
size_t linesIn(int fd, const std::string& part) {
    std::string text;
    char buffer[4096];
    for (ssize_t got;
         (got = pread(fd, buffer, sizeof buffer, static_cast<off_t>(text.size()))) > 0;)
        text.append(buffer, static_cast<size_t>(got));
    // Plain string searches: while the limit is low the sanitizers cannot
    // open what their checks of stream types need.
    size_t count = 0;
    for (size_t start = 0; start < text.size();) {
        size_t end = text.find('\n', start);
        if (end == std::string::npos) end = text.size();
        if (std::string_view(text).substr(start, end - start).find(part) != std::string_view::npos)
            ++count;
        start = end + 1;
    }
    return count;
}

// The connections the server's lines say it dropped as stalled: each line
// gives its count ("dropped 40 stalled connections"); a line without one
// stands for one.
size_t droppedAsStalled(const std::string& file) {
    std::ifstream in(file);
    size_t count = 0;
    for (std::string line; std::getline(in, line);) {
        const size_t at = line.find("dropped ");
        if (at == std::string::npos || line.find("stalled connection") == std::string::npos)
            continue;
        const unsigned long number = std::strtoul(line.c_str() + at + 8, nullptr, 10);
        count += number == 0 ? 1 : number;
    }
    return count;
}

// Waits (up to a generous bound that only a fault reaches) until `done`.
bool eventually(const std::function<bool()>& done) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (!done()) {
        if (std::chrono::steady_clock::now() > deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return true;
}

// The server's log (standard error) goes to a file while this lives.
class LogToFile {
  public:
    explicit LogToFile(const std::string& file) {
        std::fflush(stderr);
        saved_ = dup(STDERR_FILENO);
        const int fd = open(file.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
        dup2(fd, STDERR_FILENO);
        close(fd);
    }
    ~LogToFile() {
        std::fflush(stderr);
        dup2(saved_, STDERR_FILENO);
        close(saved_);
    }
    LogToFile(const LogToFile&) = delete;
    LogToFile& operator=(const LogToFile&) = delete;

  private:
    int saved_ = -1;
};

class ServerLimits : public ::testing::Test {
  protected:
    void start(size_t maxConnections,
               std::chrono::milliseconds readDeadline = std::chrono::seconds(60)) {
        char folder[] = "/tmp/nblimits.XXXXXX";
        ASSERT_NE(mkdtemp(folder), nullptr);
        folder_ = folder;
        log_ = std::make_unique<LogToFile>(folder_ + "/log");
        ServerOptions options;
        options.controlPath = folder_ + "/KV7Control";
        options.maxConnections = maxConnections;
        options.readDeadline = readDeadline;  // by default idle ones stay unless made room for
        path_ = options.controlPath;
        server_ = std::make_unique<Server>(options);
        std::string error;
        ASSERT_TRUE(server_->listen(error)) << error;
        ASSERT_TRUE(server_->prepareLoop(error)) << error;
        thread_ = std::thread([this] { server_->run(); });
    }
    void TearDown() override {
        if (thread_.joinable()) {
            EXPECT_EQ(wire::transact(path_, admin::kStop, nullptr, 0, nullptr, 0), 0);
            thread_.join();
        }
        log_.reset();
        if (!folder_.empty()) std::filesystem::remove_all(folder_);
    }

    int32_t listDevices() {
        std::vector<uint8_t> out(4096);
        return wire::transact(path_, admin::kDevices, nullptr, 0, out.data(),
                              static_cast<uint32_t>(out.size()));
    }

    int socketTo(bool connectNow) {
        const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
        if (connectNow) connectSocket(fd);
        return fd;
    }
    void connectSocket(int fd) {
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        std::strncpy(address.sun_path, path_.c_str(), sizeof(address.sun_path) - 1);
        EXPECT_EQ(connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof(address)), 0);
    }

    std::string folder_, path_;
    std::unique_ptr<LogToFile> log_;
    std::unique_ptr<Server> server_;
    std::thread thread_;
};

bool closedByPeer(int fd) {
    pollfd polled{fd, POLLIN, 0};
    char byte;
    return poll(&polled, 1, 10000) == 1 && recv(fd, &byte, 1, 0) == 0;
}

TEST_F(ServerLimits, AtTheCapTheOldestIdleConnectionMakesRoom) {
    start(4);
    std::vector<int> idle;
    for (int i = 0; i < 4; ++i) idle.push_back(socketTo(true));
    EXPECT_GE(listDevices(), 0) << "a fifth client is served";
    EXPECT_TRUE(closedByPeer(idle[0])) << "the oldest idle connection was closed for it";
    pollfd next{idle[1], POLLIN, 0};
    EXPECT_EQ(poll(&next, 1, 0), 0) << "and only that one";
    for (int fd : idle) close(fd);
}

TEST_F(ServerLimits, OutOfDescriptorsTheServerWaitsInsteadOfSpinning) {
    start(100000);
    // The loop must be serving before the limit drops: whatever it opens on
    // its way there would fail instead.
    ASSERT_GE(listDevices(), 0);
    // Opened before the limit drops, so the test can still read the log.
    const int logFd = open((folder_ + "/log").c_str(), O_RDONLY | O_CLOEXEC);
    ASSERT_GE(logFd, 0);
    // Sockets made before the limit drops; the server then has none to accept with.
    std::vector<int> clients;
    for (int i = 0; i < 40; ++i) clients.push_back(socketTo(false));
    rlimit saved{};
    ASSERT_EQ(getrlimit(RLIMIT_NOFILE, &saved), 0);
    rlimit low = saved;
    low.rlim_cur = static_cast<rlim_t>(clients.back());
    ASSERT_EQ(setrlimit(RLIMIT_NOFILE, &low), 0);
    for (int fd : clients) connectSocket(fd);
    // Once the server has met the limit, a spinning loop logs thousands of
    // failures while the limit is raised and a request is answered.
    const bool met = eventually([&] { return linesIn(logFd, "Too many open files") > 0; });
    ASSERT_EQ(setrlimit(RLIMIT_NOFILE, &saved), 0);
    close(logFd);
    for (int fd : clients) close(fd);
    ASSERT_TRUE(met) << "the server never met the descriptor limit";
    const std::string log = folder_ + "/log";
    EXPECT_GE(listDevices(), 0) << "accepting again once descriptors are free";
    EXPECT_EQ(countLines(log, "Too many open files"), 1u) << "logged once per episode";
    EXPECT_EQ(countLines(log, "accepting connections again"), 1u);
}

TEST_F(ServerLimits, StalledConnectionsAreLoggedTogetherWithTheirCount) {
    start(100000, std::chrono::milliseconds(200));
    std::vector<int> stalled;
    for (int i = 0; i < 40; ++i) stalled.push_back(socketTo(true));
    for (int fd : stalled) {
        EXPECT_TRUE(closedByPeer(fd)) << "a connection that sends nothing is dropped";
        close(fd);
    }
    // The first line comes at once, what follows it within its period.
    const std::string log = folder_ + "/log";
    EXPECT_TRUE(eventually([&] { return droppedAsStalled(log) >= 40; }));
    EXPECT_EQ(droppedAsStalled(log), 40u);
    EXPECT_LE(countLines(log, "stalled connection"), 2u) << "not a line per connection";
}

}  // namespace
}  // namespace nettlebeam::driver
