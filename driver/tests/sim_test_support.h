// A device host without a server, and a test clock, for driving simulated
// devices request by request.
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "device_model.h"
#include "sim/simulated_device.h"

namespace nettlebeam::driver::simtest {

class FakeHost : public DeviceHost {
  public:
    explicit FakeHost(std::string stateDirectory = {})
        : stateDirectory_(std::move(stateDirectory)) {}
    void postEvent(const std::vector<uint8_t>& record) override { events.push_back(record); }
    void restartDevice(DeviceHandle handle, std::chrono::milliseconds downtime) override {
        restarts.push_back({handle, downtime});
    }
    std::string stateDirectory() const override { return stateDirectory_; }

    std::vector<std::vector<uint8_t>> events;
    std::vector<std::pair<DeviceHandle, std::chrono::milliseconds>> restarts;

  private:
    std::string stateDirectory_;
};

// Steady and UTC time that only move when the test says so.
struct TestClock {
    std::chrono::steady_clock::time_point steady =
        std::chrono::steady_clock::time_point() + std::chrono::hours(1000);
    std::chrono::system_clock::time_point utc = std::chrono::system_clock::time_point(
        std::chrono::seconds(1796637600));  // 2026-12-07 10:00 UTC

    void advance(std::chrono::milliseconds d) {
        steady += d;
        utc += d;
    }
};

// A device on a fake host with a test clock; `request` answers like the
// driver would for a handle's request.
class Bench {
  public:
    explicit Bench(uint8_t hardwareId, std::string stateDirectory = {}, bool gps = true,
                   uint32_t hwFirmwareVersion = 300)
        : host(std::move(stateDirectory)) {
        settings.hardwareId = hardwareId;
        settings.gps = gps;
        settings.hwFirmwareVersion = hwFirmwareVersion;
        settings.idleTraffic = false;
        settings.clock = [this] { return clock.steady; };
        settings.utcClock = [this] { return clock.utc; };
    }
    DeviceModel& device() {
        if (!model) model = makeSimulatedDevice(settings, 7, host);
        return *model;
    }
    // As the server does: a reply that waits for the device's work is
    // answered once that is done, after a tick has posted its events.
    DeviceReply request(uint32_t code, std::vector<uint8_t> payload = {},
                        uint32_t capacity = 65536) {
        DeviceReply reply = device().handleRequest(code, payload, capacity);
        if (reply.ready) {
            for (int i = 0; i < 30000 && !reply.ready->load(); ++i)
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
            EXPECT_TRUE(reply.ready->load()) << "the device's work never ended";
            model->tick(clock.steady);
        }
        return reply;
    }
    // Moves time on, ticking every 100 ms as the server does.
    void run(std::chrono::milliseconds d) {
        device();
        for (auto left = d; left.count() > 0; left -= std::chrono::milliseconds(100)) {
            clock.advance(std::min(left, std::chrono::milliseconds(100)));
            model->tick(clock.steady);
        }
    }

    FakeHost host;
    TestClock clock;
    SimulatedDeviceSettings settings;
    std::unique_ptr<DeviceModel> model;
};

inline uint32_t le32(const std::vector<uint8_t>& b, size_t at) {
    return b[at] | (b[at + 1] << 8) | (b[at + 2] << 16) | (static_cast<uint32_t>(b[at + 3]) << 24);
}
inline uint64_t le64(const std::vector<uint8_t>& b, size_t at) {
    return le32(b, at) | (static_cast<uint64_t>(le32(b, at + 4)) << 32);
}
inline std::vector<uint8_t> u32(uint32_t v) {
    return {static_cast<uint8_t>(v), static_cast<uint8_t>(v >> 8), static_cast<uint8_t>(v >> 16),
            static_cast<uint8_t>(v >> 24)};
}

}  // namespace nettlebeam::driver::simtest
