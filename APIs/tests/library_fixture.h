// A private nettlebeamd for each test, the library pointed at it, and helpers
// to wait for what the monitor thread does asynchronously.
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "NettlebeamAPI.h"
#include "client.h"
#include "nettlebeam_testsupport.h"

namespace nettlebeam::apitest {

// Polls `condition` until it holds or `timeout` passes; the monitor works
// asynchronously, so tests wait for its effects instead of sleeping blindly.
inline bool eventually(const std::function<bool()>& condition,
                       std::chrono::milliseconds timeout = std::chrono::seconds(10)) {
    auto deadline = std::chrono::steady_clock::now() + timeout;
    while (std::chrono::steady_clock::now() < deadline) {
        if (condition()) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return condition();
}

// The handles of NettlebeamAPIGetDevicesList, in list order.
inline std::vector<int32_t> listedHandles() {
    NettlebeamApiDevicesList* list = NettlebeamAPIGetDevicesList();
    std::vector<int32_t> handles;
    int32_t walked = 0;
    for (auto* entry = list->first; entry != nullptr; entry = entry->next, ++walked)
        handles.push_back(static_cast<int32_t>(entry->handle));
    EXPECT_EQ(walked, list->count);
    NettlebeamApiDeviceListFree(list);
    return handles;
}

inline bool isListed(int32_t handle) {
    for (int32_t listed : listedHandles())
        if (listed == handle) return true;
    return false;
}

inline std::string hexWord(uint32_t value) {
    char text[16];
    std::snprintf(text, sizeof(text), "0x%08X", value);
    return text;
}

class LibraryTest : public ::testing::Test {
  protected:
    void SetUp() override {
        daemon_ = std::make_unique<testsupport::Daemon>();
        daemon_->exportControlPath();
    }

    void TearDown() override {
        NettlebeamAPIUninitialize();
        daemon_.reset();
    }

    testsupport::Daemon& daemon() { return *daemon_; }

    // Initialises the library (once) and waits until the device is listed.
    int32_t attachListed(const std::vector<std::string>& options) {
        int32_t handle = daemon_->attach(options);
        NettlebeamAPIInitialize();
        EXPECT_TRUE(eventually([&] { return isListed(handle); })) << "handle " << handle;
        return handle;
    }

    void inject(int32_t handle, uint32_t code, const std::vector<std::string>& action) {
        std::vector<std::string> args{std::to_string(handle), hexWord(code)};
        args.insert(args.end(), action.begin(), action.end());
        daemon_->inject(args);
    }

    // A request straight to the driver, bypassing the library: to set up a
    // device's state or to read back what the library wrote.
    std::vector<uint8_t> raw(int32_t handle, uint32_t code, std::vector<uint8_t> payload = {},
                             uint32_t replyCapacity = 0, int32_t* result = nullptr) {
        std::vector<uint8_t> input(4);
        for (int i = 0; i < 4; ++i)
            input[i] = static_cast<uint8_t>(static_cast<uint32_t>(handle) >> (8 * i));
        input.insert(input.end(), payload.begin(), payload.end());
        std::vector<uint8_t> reply(replyCapacity);
        int32_t written =
            wire::transact(daemon_->controlPath(), code, input.data(),
                           static_cast<uint32_t>(input.size()), reply.data(), replyCapacity);
        if (result != nullptr) *result = written;
        reply.resize(written > 0 ? static_cast<size_t>(written) : 0);
        return reply;
    }

    void injectUnaddressed(uint32_t code, const std::vector<std::string>& action) {
        std::vector<std::string> args{"any", hexWord(code)};
        args.insert(args.end(), action.begin(), action.end());
        daemon_->inject(args);
    }

  private:
    std::unique_ptr<testsupport::Daemon> daemon_;
};

}  // namespace nettlebeam::apitest
