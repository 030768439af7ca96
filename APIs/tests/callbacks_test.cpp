// Callback registration and the raising of callbacks for driver events.
#include <gtest/gtest.h>

#include "callback_recorder.h"
#include "library_fixture.h"

namespace nettlebeam::apitest {
namespace {

void simpleA(NettlebeamApiDeviceHandle, void*) {}
void payloadA(NettlebeamApiDeviceHandle, void*, void*) {}
void payloadB(NettlebeamApiDeviceHandle, void*, void*) {}

// Records which of two registrations ran, to check their order.
void firstOfTwo(NettlebeamApiDeviceHandle handle, void*, void* recorder) {
    static_cast<CallbackRecorder*>(recorder)->record({"first", handle});
}
void secondOfTwo(NettlebeamApiDeviceHandle handle, void*, void* recorder) {
    static_cast<CallbackRecorder*>(recorder)->record({"second", handle});
}

TEST(GlobalRegistrations, OnePointerPerKindInEitherForm) {
    // The library tells the forms apart by how they were registered, not by type.
    auto asPayloadForm =
        reinterpret_cast<NettlebeamApiCallback>(reinterpret_cast<void (*)()>(&simpleA));
    EXPECT_EQ(NettlebeamAPIAddGlobalCallback(0, asPayloadForm, nullptr), 0);
    EXPECT_EQ(NettlebeamAPIAddNewDeviceCallback(&simpleA, nullptr), -2);
    // The same pointer may serve another kind.
    EXPECT_EQ(NettlebeamAPIAddDeviceGoneCallback(&simpleA, nullptr), 0);
    EXPECT_EQ(NettlebeamAPIAddGlobalCallback(9, &payloadA, nullptr), 0);

    // Removal finds the registration whatever form it was made in.
    EXPECT_EQ(NettlebeamAPIRemoveNewDeviceCallback(&simpleA), 0);
    EXPECT_EQ(NettlebeamAPIRemoveNewDeviceCallback(&simpleA), -3);
    EXPECT_EQ(NettlebeamAPIRemoveGlobalCallback(1, asPayloadForm), 0);
    EXPECT_EQ(NettlebeamAPIRemoveDeviceGoneCallback(&simpleA), -3);
    EXPECT_EQ(NettlebeamAPIRemoveGlobalCallback(9, &payloadA), 0);
    EXPECT_EQ(NettlebeamAPIRemoveGlobalCallback(4, &payloadB), -3);
    // Nothing to call: refused rather than crashing the monitor later.
    EXPECT_EQ(NettlebeamAPIAddGlobalCallback(0, nullptr, nullptr), -1);
    EXPECT_EQ(NettlebeamAPIAddNewDeviceCallback(nullptr, nullptr), -1);
}

class CallbacksTest : public LibraryTest {
  protected:
    CallbackRecorder recorder_;
    GlobalRegistration registration_{recorder_};
};

TEST_F(CallbacksTest, DeviceRegistrationsAreCheckedAgainstTheDevice) {
    int32_t handle = attachListed({"--type", "5"});
    EXPECT_EQ(NettlebeamAPIAddDeviceCallback(handle + 1000, 0, &payloadA, nullptr), -4);
    EXPECT_EQ(NettlebeamAPIAddDeviceCallback(handle, 0, &payloadA, nullptr), 0);
    EXPECT_EQ(NettlebeamAPIAddDeviceCallback(handle, 0, &payloadA, nullptr), -2);
    EXPECT_EQ(NettlebeamAPIAddDeviceCallback(handle, 0, nullptr, nullptr), -1);
    EXPECT_EQ(NettlebeamAPIAddDeviceCallback(handle, 1, &payloadA, nullptr), 0);
    EXPECT_EQ(NettlebeamAPIRemoveDeviceCallback(handle, 0, &payloadB), -3);
    EXPECT_EQ(NettlebeamAPIRemoveDeviceCallback(handle, 0, &payloadA), 0);
    EXPECT_EQ(NettlebeamAPIRemoveDeviceCallback(handle, 0, &payloadA), -3);
    EXPECT_EQ(NettlebeamAPIRemoveDeviceCallback(handle + 1000, 1, &payloadA), -4);

    // The registrations end with the device.
    daemon().detach(handle);
    ASSERT_TRUE(eventually([&] { return !isListed(handle); }));
    EXPECT_EQ(NettlebeamAPIAddDeviceCallback(handle, 0, &payloadB, nullptr), -4);
    EXPECT_EQ(NettlebeamAPIRemoveDeviceCallback(handle, 1, &payloadA), -4);
}

TEST_F(CallbacksTest, CaptureEventsReachTheDeviceCallbacksInOrder) {
    int32_t handle = attachListed({"--type", "5"});
    int32_t other = daemon().attach({"--type", "6"});
    ASSERT_TRUE(eventually([&] { return isListed(other); }));
    ASSERT_EQ(
        NettlebeamAPIAddDeviceCallback(handle, 0, &CallbackRecorder::onCaptureState, &recorder_),
        0);
    ASSERT_EQ(NettlebeamAPIAddDeviceCallback(handle, 1, &CallbackRecorder::onNewFile, &recorder_),
              0);

    daemon().event({"5", std::to_string(handle)});                // unknown kind: nothing
    daemon().event({"4", std::to_string(other), "--word", "1"});  // no callbacks there
    daemon().event({"4", std::to_string(handle), "--word", "0", "--error", "2"});
    daemon().event({"1", std::to_string(handle), "--name", "/captures/übung_0001.pcap"});
    daemon().event({"4", std::to_string(handle), "--word", "7", "--error", "4"});
    ASSERT_TRUE(eventually([&] { return recorder_.count("state", handle) == 2; }));

    std::vector<RaisedCallback> deviceEvents;
    for (const auto& raised : recorder_.raised())
        if (raised.what == "state" || raised.what == "file") deviceEvents.push_back(raised);
    ASSERT_EQ(deviceEvents.size(), 3u);
    EXPECT_EQ(deviceEvents[0].what, "state");
    EXPECT_FALSE(deviceEvents[0].enabled);
    EXPECT_EQ(deviceEvents[0].error, -7);
    EXPECT_EQ(deviceEvents[1].what, "file");
    EXPECT_EQ(deviceEvents[1].fileName, u"/captures/übung_0001.pcap");
    EXPECT_TRUE(deviceEvents[2].enabled);
    EXPECT_EQ(deviceEvents[2].error, -1);
}

TEST_F(CallbacksTest, RegistrationsForOneKindRunInRegistrationOrder) {
    int32_t handle = attachListed({"--type", "5"});
    ASSERT_EQ(NettlebeamAPIAddDeviceCallback(handle, 0, &secondOfTwo, &recorder_), 0);
    ASSERT_EQ(NettlebeamAPIAddDeviceCallback(handle, 0, &firstOfTwo, &recorder_), 0);
    daemon().event({"4", std::to_string(handle), "--word", "1"});
    daemon().event({"4", std::to_string(handle), "--word", "0"});
    ASSERT_TRUE(eventually([&] { return recorder_.count("first", handle) == 2; }));

    std::vector<std::string> order;
    for (const auto& raised : recorder_.raised())
        if (raised.what == "first" || raised.what == "second") order.push_back(raised.what);
    EXPECT_EQ(order, (std::vector<std::string>{"second", "first", "second", "first"}));
}

// A global callback may call any export, including shutdown of the library.
void shutDownFromCallback(NettlebeamApiDeviceHandle, void* done) {
    NettlebeamAPIUninitialize();
    static_cast<std::atomic<bool>*>(done)->store(true);
}

TEST_F(CallbacksTest, GlobalCallbacksMayCallExports) {
    std::atomic<bool> done{false};
    ASSERT_EQ(NettlebeamAPIAddNewDeviceCallback(&shutDownFromCallback, &done), 0);
    int32_t handle = daemon().attach({"--type", "5"});
    ASSERT_EQ(NettlebeamAPIInitialize(), 0);
    EXPECT_TRUE(eventually([&] { return done.load(); }));
    NettlebeamAPIRemoveNewDeviceCallback(&shutDownFromCallback);
    EXPECT_FALSE(isListed(handle));
    // The library starts again normally afterwards.
    ASSERT_EQ(NettlebeamAPIInitialize(), 0);
    EXPECT_TRUE(eventually([&] { return isListed(handle); }));
}

}  // namespace
}  // namespace nettlebeam::apitest
