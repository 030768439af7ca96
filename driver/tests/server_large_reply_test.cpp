// The server in this process with a device model that answers as much as it
// is asked for: large replies, slow readers and readers that leave; and
// replies that wait for the device's work without holding up anyone else,
// and a device whose teardown waits on the disk.
#include <gtest/gtest.h>
#include <poll.h>
#include <stdlib.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <atomic>
#include <cstring>
#include <filesystem>
#include <future>
#include <memory>
#include <thread>

#include "admin_protocol.h"
#include "client.h"
#include "frame.h"
#include "server.h"

namespace nettlebeam::driver {
namespace {

constexpr uint32_t kMemoryData = 0xCB202C0B;
constexpr uint32_t kCaptureStop = 0xCB202804;
constexpr uint32_t k64MiB = 64u << 20;

uint8_t patternAt(size_t i) {
    return static_cast<uint8_t>(i * 31 + (i >> 16));
}

// Stands for a capture that writes out its cache when its device goes.
struct SlowTeardown {
    SlowTeardown(std::shared_future<void> mayFinish, std::shared_ptr<std::atomic<bool>> finished)
        : mayFinish(std::move(mayFinish)), finished(std::move(finished)) {}
    SlowTeardown(const SlowTeardown&) = delete;
    SlowTeardown& operator=(const SlowTeardown&) = delete;
    std::shared_future<void> mayFinish;
    std::shared_ptr<std::atomic<bool>> finished;
    ~SlowTeardown() {
        mayFinish.wait();
        finished->store(true);
    }
};

class FillingDevice : public DeviceModel {
  public:
    FillingDevice(std::shared_ptr<std::atomic<bool>> stopped, DeviceHost& host,
                  std::shared_ptr<SlowTeardown> teardown)
        : stopped_(stopped), host_(host), teardown_(std::move(teardown)) {}
    ~FillingDevice() override { host_.disposeInBackground(std::move(teardown_)); }
    DeviceReply handleRequest(uint32_t code, std::span<const uint8_t>, uint32_t capacity) override {
        if (code == kCaptureStop) return DeviceReply::emptyWhen(stopped_);
        if (code != kMemoryData) return DeviceReply::failure();
        std::vector<uint8_t> bytes(capacity);
        for (size_t i = 0; i < bytes.size(); ++i) bytes[i] = patternAt(i);
        return DeviceReply::of(std::move(bytes));
    }
    void tick(std::chrono::steady_clock::time_point) override {}
    std::string describe() const override { return "filling test device"; }
    void powerOn() override {}

  private:
    std::shared_ptr<std::atomic<bool>> stopped_;
    DeviceHost& host_;
    std::shared_ptr<SlowTeardown> teardown_;
};

class ServerInProcess : public ::testing::Test {
  protected:
    void SetUp() override {
        char folder[] = "/tmp/nbserver.XXXXXX";
        ASSERT_NE(mkdtemp(folder), nullptr);
        folder_ = folder;
        ServerOptions options;
        options.controlPath = folder_ + "/KV7Control";
        options.pendingReplyBudget = replyBudget_;
        path_ = options.controlPath;
        server_ = std::make_unique<Server>(options);
        std::string error;
        ASSERT_TRUE(server_->listen(error)) << error;
        ASSERT_TRUE(server_->prepareLoop(error)) << error;
        handle_ = server_->attachModel([this](DeviceHandle, DeviceHost& host) {
            return std::make_unique<FillingDevice>(
                stopped_, host,
                std::make_shared<SlowTeardown>(mayFinish_.get_future().share(), teardownFinished_));
        });
        thread_ = std::thread([this] { server_->run(); });
    }
    void TearDown() override {
        mayFinish_.set_value();
        if (thread_.joinable()) {
            EXPECT_EQ(wire::transact(path_, admin::kStop, nullptr, 0, nullptr, 0), 0);
            thread_.join();
        }
        std::filesystem::remove_all(folder_);
    }

    int32_t readMemory(uint32_t capacity, std::vector<uint8_t>& out) {
        out.assign(capacity, 0);
        return wire::transact(path_, kMemoryData, &handle_, 4, out.data(), capacity);
    }

    // A raw connection that has sent a memory read and reads nothing yet.
    int startRawRead(uint32_t capacity) {
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        std::strncpy(address.sun_path, path_.c_str(), sizeof(address.sun_path) - 1);
        int fd = socket(AF_UNIX, SOCK_STREAM, 0);
        EXPECT_EQ(connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof(address)), 0);
        uint8_t request[wire::kHeaderSize + 4];
        wire::encodeRequestHeader({kMemoryData, 4, capacity}, request);
        std::memcpy(request + wire::kHeaderSize, &handle_, 4);
        EXPECT_EQ(send(fd, request, sizeof(request), 0), static_cast<ssize_t>(sizeof(request)));
        return fd;
    }

    int32_t stopCapture() { return wire::transact(path_, kCaptureStop, &handle_, 4, nullptr, 0); }

    size_t replyBudget_ = ServerOptions{}.pendingReplyBudget;
    std::string folder_, path_;
    std::shared_ptr<std::atomic<bool>> stopped_ = std::make_shared<std::atomic<bool>>(false);
    std::promise<void> mayFinish_;
    std::shared_ptr<std::atomic<bool>> teardownFinished_ =
        std::make_shared<std::atomic<bool>>(false);
    std::unique_ptr<Server> server_;
    std::thread thread_;
    DeviceHandle handle_ = 0;
};

TEST_F(ServerInProcess, A64MiBReplyArrivesIntact) {
    std::vector<uint8_t> out;
    ASSERT_EQ(readMemory(k64MiB, out), static_cast<int32_t>(k64MiB));
    for (size_t i = 0; i < out.size(); i += 4093) ASSERT_EQ(out[i], patternAt(i)) << i;
    EXPECT_EQ(out.back(), patternAt(out.size() - 1));
}

TEST_F(ServerInProcess, ASlowReaderDoesNotHoldUpOthers) {
    int slow = startRawRead(k64MiB);
    std::vector<uint8_t> out;
    // The slow reader's reply waits in the server while others are answered.
    for (int i = 0; i < 5; ++i) ASSERT_EQ(readMemory(4096, out), 4096);
    // The slow reader then gets all of its reply.
    size_t received = 0;
    std::vector<uint8_t> buffer(1 << 20);
    pollfd polled{slow, POLLIN, 0};
    while (poll(&polled, 1, 10000) > 0) {
        ssize_t got = recv(slow, buffer.data(), buffer.size(), 0);
        if (got <= 0) break;
        received += static_cast<size_t>(got);
    }
    close(slow);
    EXPECT_EQ(received, wire::kHeaderSize + k64MiB);
}

// Bytes received on `fd` until it closes.
size_t drain(int fd) {
    size_t received = 0;
    std::vector<uint8_t> buffer(1 << 20);
    pollfd polled{fd, POLLIN, 0};
    while (poll(&polled, 1, 10000) > 0) {
        const ssize_t got = recv(fd, buffer.data(), buffer.size(), 0);
        if (got <= 0) break;
        received += static_cast<size_t>(got);
    }
    close(fd);
    return received;
}

class ServerWithSmallReplyBudget : public ServerInProcess {
  protected:
    void SetUp() override {
        replyBudget_ = 10u << 20;
        ServerInProcess::SetUp();
    }
};

TEST_F(ServerWithSmallReplyBudget, UnreadRepliesHoldNoMoreThanTheBudget) {
    constexpr uint32_t k4MiB = 4u << 20;
    std::vector<int> unread;
    for (int i = 0; i < 2; ++i) {
        unread.push_back(startRawRead(k4MiB));
        pollfd started{unread.back(), POLLIN, 0};
        ASSERT_EQ(poll(&started, 1, 10000), 1) << "the reply is under way";
    }
    std::vector<uint8_t> out;
    EXPECT_EQ(readMemory(k4MiB, out), static_cast<int32_t>(2u << 20))
        << "only what the budget has left";
    for (int fd : unread) EXPECT_EQ(drain(fd), wire::kHeaderSize + k4MiB);
    EXPECT_EQ(readMemory(k4MiB, out), static_cast<int32_t>(k4MiB)) << "the budget is free again";
}

TEST_F(ServerInProcess, ReadersLeavingMidReplyCostNothing) {
    for (int i = 0; i < 4; ++i) {
        int fd = startRawRead(k64MiB);
        std::vector<uint8_t> first(100000);
        ASSERT_GT(recv(fd, first.data(), first.size(), MSG_WAITALL), 0);
        close(fd);
    }
    std::vector<uint8_t> out;
    ASSERT_EQ(readMemory(k64MiB, out), static_cast<int32_t>(k64MiB));
    EXPECT_EQ(out[12345], patternAt(12345));
}

TEST_F(ServerInProcess, AReplyWaitingForItsDeviceHoldsUpNobody) {
    std::atomic<bool> answered{false};
    int32_t result = -99;
    std::thread stopper([&] {
        result = stopCapture();
        answered = true;
    });
    // A client that leaves while its reply waits costs nothing either.
    {
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        std::strncpy(address.sun_path, path_.c_str(), sizeof(address.sun_path) - 1);
        const int fd = socket(AF_UNIX, SOCK_STREAM, 0);
        ASSERT_EQ(connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof(address)), 0);
        uint8_t request[wire::kHeaderSize + 4];
        wire::encodeRequestHeader({kCaptureStop, 4, 0}, request);
        std::memcpy(request + wire::kHeaderSize, &handle_, 4);
        ASSERT_EQ(send(fd, request, sizeof(request), 0), static_cast<ssize_t>(sizeof(request)));
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        close(fd);
    }
    std::vector<uint8_t> out;
    for (int i = 0; i < 5; ++i) {
        EXPECT_EQ(readMemory(4096, out), 4096) << "the server answers others meanwhile";
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    EXPECT_FALSE(answered.load()) << "the reply came before the device's work was done";
    stopped_->store(true);
    stopper.join();
    EXPECT_EQ(result, 0);
    // Once the work is done a new request is answered at once.
    EXPECT_EQ(stopCapture(), 0);
}

TEST_F(ServerInProcess, ADeviceTornDownSlowlyHoldsUpNobody) {
    std::vector<uint8_t> out;
    auto detach = std::async(std::launch::async, [this] {
        return wire::transact(path_, admin::kDetach, &handle_, 4, nullptr, 0);
    });
    if (detach.wait_for(std::chrono::seconds(10)) != std::future_status::ready) {
        mayFinish_.set_value();
        mayFinish_ = std::promise<void>();  // for TearDown
        FAIL() << "the detach waited for the device's teardown";
    }
    EXPECT_EQ(detach.get(), 0);
    for (int i = 0; i < 3; ++i)
        EXPECT_EQ(readMemory(4096, out), wire::kDriverFailed)
            << "the server answers while the teardown waits";
    EXPECT_FALSE(teardownFinished_->load());
    // Stopping the server waits for the teardown, which may now finish.
    mayFinish_.set_value();
    ASSERT_EQ(wire::transact(path_, admin::kStop, nullptr, 0, nullptr, 0), 0);
    thread_.join();
    server_.reset();
    EXPECT_TRUE(teardownFinished_->load());
    mayFinish_ = std::promise<void>();  // for TearDown
}

}  // namespace
}  // namespace nettlebeam::driver
