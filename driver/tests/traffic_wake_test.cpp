// A source fed from outside the daemon hands the engine a descriptor: the
// engine sleeps until it turns readable or the source's own deadline comes,
// and asks the source for nothing in between.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <unistd.h>

#include <array>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <thread>

#include "traffic/traffic_engine.h"

namespace nettlebeam::traffic {
namespace {

// Every byte written into its pipe is one 64-byte frame on port A. The first of
// them arms a deadline 200 ms later, when the source hands out one frame of
// its own on port B. Closing the pipe ends the source.
class PipeSource : public FrameSource {
  public:
    static constexpr uint64_t kDeadlineAfterNs = 200'000'000;

    PipeSource() {
        if (pipe2(fds_.data(), O_NONBLOCK | O_CLOEXEC) != 0) fds_ = {-1, -1};
        bytes_.fill(0xFF);  // a broadcast frame
    }
    ~PipeSource() override {
        closeWriteEnd();
        if (fds_[0] >= 0) close(fds_[0]);
    }

    bool opened() const { return fds_[0] >= 0; }
    bool sendOne() {
        const uint8_t byte = 1;
        return write(fds_[1], &byte, 1) == 1;
    }
    void closeWriteEnd() {
        if (fds_[1] >= 0) close(fds_[1]);
        fds_[1] = -1;
    }
    // Times the engine asked for a frame after being told there was none,
    // although the pipe had nothing and the deadline had not come.
    int unpromptedAsks() const { return unprompted_.load(); }
    int asks() const { return asks_.load(); }

    int wakeDescriptor() const override { return fds_[0]; }
    void begin(uint64_t) override { lastWasNone_ = false; }

    uint64_t nextDueNs() override {
        if (ended_) return UINT64_MAX;
        return deadlineNs_ == UINT64_MAX ? kWhenReadable : deadlineNs_;
    }

    const Frame* next(uint64_t nowNs) override {
        ++asks_;
        if (lastWasNone_ && !readable() && nowNs < deadlineNs_) ++unprompted_;
        lastWasNone_ = false;
        uint8_t byte;
        const ssize_t got = ended_ ? 0 : read(fds_[0], &byte, 1);
        if (got == 1) {
            if (!armed_) deadlineNs_ = nowNs + kDeadlineAfterNs;
            armed_ = true;
            return frame(Port::A, nowNs);
        }
        if (got == 0) ended_ = true;
        if (deadlineNs_ != UINT64_MAX && nowNs >= deadlineNs_) {
            deadlineNs_ = UINT64_MAX;
            return frame(Port::B, nowNs);
        }
        lastWasNone_ = true;
        return nullptr;
    }

  private:
    bool readable() const {
        pollfd p{fds_[0], POLLIN, 0};
        return poll(&p, 1, 0) == 1 && (p.revents & (POLLIN | POLLHUP)) != 0;
    }
    const Frame* frame(Port port, uint64_t nowNs) {
        frame_ = Frame{};
        frame_.bytes = bytes_;
        frame_.wireLength = static_cast<uint32_t>(bytes_.size() + 4);
        frame_.port = port;
        frame_.timestampNs = nowNs;
        return &frame_;
    }

    std::array<int, 2> fds_{-1, -1};
    std::array<uint8_t, 60> bytes_{};
    Frame frame_;
    uint64_t deadlineNs_ = UINT64_MAX;
    bool armed_ = false;
    bool ended_ = false;
    bool lastWasNone_ = false;
    std::atomic<int> asks_{0};
    std::atomic<int> unprompted_{0};
};

// Polls `done` until it holds, for at most ten seconds.
template <typename Condition>
bool eventually(Condition done) {
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (!done()) {
        if (std::chrono::steady_clock::now() > until) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}

TEST(TrafficEngineWake, ADescriptorSourceIsAskedOnlyWhenReadableOrDue) {
    auto owned = std::make_unique<PipeSource>();
    PipeSource& source = *owned;
    ASSERT_TRUE(source.opened());
    TrafficEngine engine(std::move(owned));
    engine.start();

    // Once the engine has found the pipe empty, a byte must wake it.
    ASSERT_TRUE(eventually([&] { return source.asks() >= 1; }));
    ASSERT_TRUE(source.sendOne());
    ASSERT_TRUE(eventually([&] { return engine.port(Port::A).from64To1518.load() == 1; }));
    // The byte armed the source's deadline, which wakes the engine too.
    ASSERT_TRUE(eventually([&] { return engine.port(Port::B).from64To1518.load() == 1; }));
    // The end of the pipe ends the source.
    source.closeWriteEnd();
    ASSERT_TRUE(eventually([&] { return engine.exhausted(); }));

    EXPECT_EQ(source.unpromptedAsks(), 0);
    EXPECT_EQ(engine.framesSeen(), 2u);
    engine.stop();
}

TEST(TrafficEngineWake, StopWakesAnEngineWaitingForItsDescriptor) {
    auto owned = std::make_unique<PipeSource>();
    PipeSource& source = *owned;
    ASSERT_TRUE(source.opened());
    TrafficEngine engine(std::move(owned));
    engine.start();
    ASSERT_TRUE(eventually([&] { return source.asks() >= 1; }));
    // Nothing will become readable: only the stop can end the wait.
    engine.stop();
    EXPECT_EQ(source.unpromptedAsks(), 0);
    EXPECT_EQ(engine.framesSeen(), 0u);
    // The engine starts again and still wakes for its descriptor.
    engine.start();
    ASSERT_TRUE(source.sendOne());
    ASSERT_TRUE(eventually([&] { return engine.port(Port::A).from64To1518.load() == 1; }));
    engine.stop();
    EXPECT_EQ(source.unpromptedAsks(), 0);
}

}  // namespace
}  // namespace nettlebeam::traffic
