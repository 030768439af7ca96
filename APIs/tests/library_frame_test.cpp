// The library frame against a running nettlebeamd: start and stop, the device
// list and how the monitor keeps it current.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <fstream>

#include "callback_recorder.h"
#include "counting_relay.h"
#include "library_fixture.h"

namespace nettlebeam::apitest {
namespace {

constexpr uint32_t kEnumerate = 0xCB202000;
constexpr uint32_t kWaitForEvent = 0xCB203400;
constexpr uint32_t kReadVersions = 0xCB20201C;
constexpr uint32_t kReadMac = 0xCB202028;
constexpr uint32_t kReadHardwareId = 0xCB202020;

class LibraryFrameTest : public LibraryTest {
  protected:
    CallbackRecorder recorder_;
    GlobalRegistration registration_{recorder_};
};

std::string littleEndianHex(const std::vector<int32_t>& handles) {
    std::string hex;
    for (int32_t handle : handles) {
        char bytes[9];
        auto value = static_cast<uint32_t>(handle);
        std::snprintf(bytes, sizeof(bytes), "%02x%02x%02x%02x", value & 0xFF, (value >> 8) & 0xFF,
                      (value >> 16) & 0xFF, value >> 24);
        hex += bytes;
    }
    return hex;
}

TEST(LibraryWithoutDriver, UtilitiesWorkBeforeInitialisation) {
    EXPECT_EQ(NettlebeamAPIGetVersion(), 0x00130302u);
    EXPECT_TRUE(listedHandles().empty());
    // Shutting down a library that never started does nothing.
    EXPECT_EQ(NettlebeamAPIUninitialize(), 0);
    NettlebeamApiDeviceListFree(nullptr);
}

TEST(LibraryWithoutDriver, InitialiseTwiceThenShutDownWithNoDaemon) {
    ::setenv("NETTLEBEAM_CONTROL", "/nonexistent/nettlebeam/KV7Control", 1);
    EXPECT_EQ(NettlebeamAPIInitialize(), 0);
    EXPECT_EQ(NettlebeamAPIInitialize(), -2);
    EXPECT_EQ(NettlebeamAPIGetVersion(), 0x00130302u);
    EXPECT_EQ(NettlebeamAPIUninitialize(), 0);
    EXPECT_EQ(NettlebeamAPIUninitialize(), 0);
    EXPECT_EQ(NettlebeamAPIInitialize(), 0);
    EXPECT_EQ(NettlebeamAPIUninitialize(), 0);
}

TEST_F(LibraryFrameTest, DevicesAreListedInArrivalOrderAndTheListIsASnapshot) {
    int32_t first = attachListed({"--type", "5"});
    NettlebeamApiDevicesList* snapshot = NettlebeamAPIGetDevicesList();
    int32_t second = daemon().attach({"--type", "13"});
    ASSERT_TRUE(eventually([&] { return isListed(second); }));

    EXPECT_EQ(listedHandles(), (std::vector<int32_t>{first, second}));
    ASSERT_EQ(snapshot->count, 1);
    ASSERT_NE(snapshot->first, nullptr);
    EXPECT_EQ(snapshot->first->handle, first);
    EXPECT_EQ(snapshot->first->next, nullptr);
    NettlebeamApiDeviceListFree(snapshot);
    EXPECT_EQ(recorder_.count("new", first), 1);
    EXPECT_EQ(recorder_.count("new", second), 1);
}

TEST_F(LibraryFrameTest, DevicesFoundTogetherAreListedTogether) {
    std::vector<int32_t> attached;
    for (const char* type : {"3", "5", "11", "12", "13", "6"})
        attached.push_back(daemon().attach({"--type", type}));
    ASSERT_EQ(NettlebeamAPIInitialize(), NETTLEBEAM_STATUS_SUCCESS);
    // Read as fast as possible: the first list that is not empty already
    // holds every device, in the driver's order.
    std::vector<int32_t> first;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (first.empty() && std::chrono::steady_clock::now() < deadline) first = listedHandles();
    EXPECT_EQ(first, attached);
}

TEST_F(LibraryFrameTest, RemovalNotifiesWhileTheDeviceIsStillReadableThenForgetsIt) {
    int32_t handle = attachListed({"--type", "5"});
    daemon().detach(handle);
    ASSERT_TRUE(eventually([&] { return !isListed(handle); }));
    ASSERT_TRUE(eventually([&] { return recorder_.count("gone", handle) == 1; }));
    for (const auto& raised : recorder_.raised()) {
        if (raised.what == "gone") {
            EXPECT_EQ(raised.typeStatusDuringCall, 0);
        }
    }

    NettlebeamApiDeviceType type = 0;
    NettlebeamApiVersions versions{};
    uint8_t mac[6];
    EXPECT_EQ(NettlebeamAPIGetDeviceType(handle, &type), -4);
    EXPECT_EQ(NettlebeamAPIGetVersions(handle, &versions), -4);
    EXPECT_EQ(NettlebeamAPIGetDeviceMAC(handle, mac), -4);
    EXPECT_EQ(NettlebeamAPIGetDeviceCapabilitiesEx(handle), 0u);
}

TEST_F(LibraryFrameTest, AFailedEventWaitDoesNotListAKnownDeviceTwice) {
    int32_t first = attachListed({"--type", "5"});
    // The wait pending now returns with the next arrival; the one after fails,
    // and the monitor enumerates again with both devices attached.
    injectUnaddressed(kWaitForEvent, {"--fail"});
    int32_t second = daemon().attach({"--type", "6"});
    ASSERT_TRUE(eventually([&] { return isListed(second); }));
    // Let the monitor go through its re-enumeration and back into a wait.
    int32_t third = daemon().attach({"--type", "3"});
    ASSERT_TRUE(eventually([&] { return isListed(third); }));

    EXPECT_EQ(listedHandles(), (std::vector<int32_t>{first, second, third}));
    EXPECT_EQ(recorder_.count("new", first), 1);
    EXPECT_EQ(recorder_.count("new", second), 1);
}

// A device that came back as another under its handle, its removal and
// arrival missed, is identified again: it leaves and arrives anew, and its
// record has what the new identification read. Armed replies make the next
// identification see a device that differs in one identity field alone (the
// type, the MAC once the MAC export has read it, the driver, software or
// hardware firmware version, each by its last component); the identification
// after it reads the device as attached again, which differs in that field
// too.
TEST_F(LibraryFrameTest, AKnownHandleFoundAgainAsAnotherDeviceIsReplaced) {
    int32_t handle = attachListed({"--type", "5", "--mac", "02:00:00:00:00:07", "--driver-version",
                                   "0.1.3.62", "--sw-fw", "1.0.0.0", "--hw-fw", "300"});
    auto settle = [&] {
        int32_t marker = daemon().attach({"--type", "14"});
        ASSERT_TRUE(eventually([&] { return isListed(marker); }));
    };
    auto versions = [&] {
        NettlebeamApiVersions read{};
        EXPECT_EQ(NettlebeamAPIGetVersions(handle, &read), 0);
        return read;
    };
    int arrivals = 1;
    // An arrival event for the listed handle; `arm` makes what it reads.
    auto foundAgain = [&](const std::function<void()>& arm) {
        arm();
        daemon().event({"2", std::to_string(handle)});
        ++arrivals;
        return eventually([&] { return recorder_.count("new", handle) == arrivals; });
    };
    auto asAttached = [] {};
    uint8_t mac[6];
    ASSERT_EQ(NettlebeamAPIGetDeviceMAC(handle, mac), 0);
    daemon().event({"2", std::to_string(handle)});
    settle();
    EXPECT_EQ(recorder_.count("new", handle), 1) << "unchanged: no further record";
    EXPECT_EQ(recorder_.count("gone", handle), 0);

    // Another unit of the model: the MAC alone differs.
    ASSERT_TRUE(foundAgain([&] {
        inject(handle, kReadMac, {"--reply-hex", "020000000008"});
    })) << "another MAC";

    ASSERT_TRUE(foundAgain([&] {
        inject(handle, kReadHardwareId, {"--reply-hex", "11"});
    })) << "another type";
    NettlebeamApiDeviceType type = 0;
    EXPECT_EQ(NettlebeamAPIGetDeviceType(handle, &type), 0);
    EXPECT_EQ(type, DeviceTypeGigabitGen2Poe);
    ASSERT_TRUE(foundAgain(asAttached)) << "the type as attached";
    EXPECT_EQ(NettlebeamAPIGetDeviceType(handle, &type), 0);
    EXPECT_NE(type, DeviceTypeGigabitGen2Poe);

    // As attached, the versions reply is 3e030100 00000001 2c010000: the
    // driver and the software firmware with their last component first, then
    // the hardware firmware.
    ASSERT_TRUE(foundAgain([&] {
        inject(handle, kReadVersions,
               {"--reply-hex",
                "3f030100"
                "00000001"
                "2c010000"});
    })) << "another driver version";
    EXPECT_EQ(versions().driverVersion[3], 63);
    ASSERT_TRUE(foundAgain(asAttached)) << "the driver version as attached";
    EXPECT_EQ(versions().driverVersion[3], 62);

    ASSERT_TRUE(foundAgain([&] {
        inject(handle, kReadVersions,
               {"--reply-hex",
                "3e030100"
                "01000001"
                "2c010000"});
    })) << "another software firmware";
    EXPECT_EQ(versions().swFirmwareVersion[3], 1);
    ASSERT_TRUE(foundAgain(asAttached)) << "the software firmware as attached";
    EXPECT_EQ(versions().swFirmwareVersion[3], 0);

    ASSERT_TRUE(foundAgain([&] {
        inject(handle, kReadVersions,
               {"--reply-hex",
                "3e030100"
                "00000001"
                "2d010000"});
    })) << "another hardware firmware";
    EXPECT_EQ(versions().hwFirmwareVersion, 301u);
    ASSERT_TRUE(foundAgain(asAttached)) << "the hardware firmware as attached";
    EXPECT_EQ(versions().hwFirmwareVersion, 300u);

    // The enumeration after a failed wait identifies listed devices again too.
    inject(handle, kReadVersions,
           {"--reply-hex",
            "3e030100"
            "00000001"
            "2d010000"});
    injectUnaddressed(kWaitForEvent, {"--fail"});
    daemon().event({"1", std::to_string(handle), "--name", "wake.pcap"});
    ++arrivals;
    ASSERT_TRUE(eventually([&] { return recorder_.count("new", handle) == arrivals; }));
    EXPECT_EQ(versions().hwFirmwareVersion, 301u);

    EXPECT_EQ(recorder_.count("gone", handle), arrivals - 1);
    std::vector<std::string> sequence;
    for (const auto& raised : recorder_.raised())
        if (raised.handle == handle) sequence.push_back(raised.what);
    ASSERT_EQ(sequence.size(), static_cast<size_t>(2 * arrivals - 1));
    for (size_t i = 0; i < sequence.size(); ++i)
        EXPECT_EQ(sequence[i], i % 2 == 0 ? "new" : "gone") << "notification #" << i;
    std::vector<int32_t> listed = listedHandles();
    EXPECT_EQ(std::count(listed.begin(), listed.end(), handle), 1);
}

TEST_F(LibraryFrameTest, ADeviceNoLongerEnumeratedAfterAFailedWaitIsRemoved) {
    int32_t kept = attachListed({"--type", "5"});
    int32_t lost = daemon().attach({"--type", "6"});
    ASSERT_TRUE(eventually([&] { return isListed(lost); }));
    // The next enumeration reports only the first device, as if the removal
    // event had been lost while no wait was pending.
    injectUnaddressed(kEnumerate, {"--reply-hex", littleEndianHex({kept})});
    injectUnaddressed(kWaitForEvent, {"--fail"});
    daemon().event({"1", std::to_string(kept), "--name", "wake.pcap"});

    ASSERT_TRUE(eventually([&] { return !isListed(lost); }));
    EXPECT_EQ(listedHandles(), std::vector<int32_t>{kept});
    EXPECT_EQ(recorder_.count("gone", lost), 1);
    EXPECT_EQ(recorder_.count("gone", kept), 0);
}

// When the daemon logged each failed event wait, in milliseconds of the day.
std::vector<long> failedWaitTimes(const std::string& log) {
    std::ifstream in(log);
    std::vector<long> times;
    for (std::string line; std::getline(in, line);) {
        int hours = 0, minutes = 0, seconds = 0, millis = 0;
        if (line.find("injected failure of the event wait") != std::string::npos &&
            std::sscanf(line.c_str(), "nettlebeamd %d:%d:%d.%d:", &hours, &minutes, &seconds,
                        &millis) == 4)
            times.push_back(((hours * 60L + minutes) * 60 + seconds) * 1000 + millis);
    }
    return times;
}

// While the event wait keeps failing, each retry is put off longer: pauses
// of 10, 20, 40 ... 500 ms, read from the times the daemon failed the waits
// (lower bounds, which a loaded machine only exceeds). The enumerations
// that follow the failed waits are counted with armed replies: the first 40
// list the device, the 41st lists nothing and so removes it, which a monitor
// retrying at once reaches while the waits below are failed.
TEST_F(LibraryFrameTest, AnEventWaitThatKeepsFailingIsRetriedAfterGrowingPauses) {
    int32_t handle = daemon().attach({"--type", "5"});
    injectUnaddressed(kWaitForEvent, {"--fail", "--times", "100000"});
    injectUnaddressed(kEnumerate, {"--reply-hex", littleEndianHex({handle}), "--times", "40"});
    injectUnaddressed(kEnumerate, {"--reply-hex", ""});
    ASSERT_EQ(NettlebeamAPIInitialize(), 0);
    ASSERT_TRUE(eventually([&] { return isListed(handle); }));
    const std::string log = daemon().folder() + "/nettlebeamd.log";
    ASSERT_TRUE(
        eventually([&] { return failedWaitTimes(log).size() >= 6; }, std::chrono::seconds(30)));
    const std::vector<long> times = failedWaitTimes(log);
    long pause = 10;
    for (size_t i = 1; i < 6; ++i, pause *= 2) {
        long gap = times[i] - times[i - 1];
        if (gap < 0) gap += 24 * 3600 * 1000;  // over midnight
        // The log's times are cut to the millisecond: a gap may show 1 ms short.
        EXPECT_GE(gap + 1, pause) << "before retry " << i;
    }
    EXPECT_EQ(recorder_.count("gone", handle), 0);
    EXPECT_EQ(recorder_.count("new", handle), 1);
}

// A reply to the event wait too short to be an event record is a failed wait
// like any other: the monitor enumerates again after the pause, instead of
// asking again and again at once. The requests are counted on their way to
// the daemon, which answers every event wait with one byte once the pending
// one has returned.
TEST_F(LibraryFrameTest, AnEventWaitReplyTooShortForARecordIsAFailedWait) {
    CountingRelay relay(daemon().controlPath());
    ::setenv("NETTLEBEAM_CONTROL", relay.path().c_str(), 1);
    int32_t handle = attachListed({"--type", "5"});
    ASSERT_TRUE(eventually([&] { return relay.count(kWaitForEvent) == 1; }));
    injectUnaddressed(kWaitForEvent, {"--reply-hex", "00", "--times", "100000"});
    const int enumerations = relay.count(kEnumerate);
    daemon().event({"1", std::to_string(handle), "--name", "wake.pcap"});

    ASSERT_TRUE(eventually([&] { return relay.count(kEnumerate) >= enumerations + 5; }))
        << relay.count(kWaitForEvent) << " event waits, not followed by an enumeration";
    EXPECT_LT(relay.count(kWaitForEvent), 50);
    EXPECT_TRUE(isListed(handle));
}

TEST_F(LibraryFrameTest, EnumerationReadsWholeHandlesOnly) {
    int32_t handle = daemon().attach({"--type", "5"});
    // Six bytes: one handle and a partial one that must be ignored.
    injectUnaddressed(kEnumerate, {"--reply-hex", littleEndianHex({handle}) + "0700"});
    ASSERT_EQ(NettlebeamAPIInitialize(), 0);
    ASSERT_TRUE(eventually([&] { return isListed(handle); }));
    EXPECT_EQ(listedHandles(), std::vector<int32_t>{handle});
}

TEST_F(LibraryFrameTest, ShutdownEmptiesTheListAndAnotherStartFindsTheDevicesAgain) {
    int32_t handle = attachListed({"--type", "5"});
    // The monitor is blocked in the driver's event wait now; shutdown must not
    // wait for an event to come.
    EXPECT_EQ(NettlebeamAPIUninitialize(), 0);
    EXPECT_TRUE(listedHandles().empty());
    NettlebeamApiDeviceType type = 0;
    EXPECT_EQ(NettlebeamAPIGetDeviceType(handle, &type), -4);

    EXPECT_EQ(NettlebeamAPIInitialize(), 0);
    ASSERT_TRUE(eventually([&] { return isListed(handle); }));
    EXPECT_EQ(recorder_.count("new", handle), 2);
}

TEST_F(LibraryFrameTest, EveryPerDeviceExportRejectsAnUnlistedHandle) {
    int32_t listed = attachListed({"--type", "11", "--hw-fw", "300"});
    // Attached in the driver but gone from the library's list: still unknown.
    const int32_t h = listed + 1;
    uint8_t bytes[8] = {};
    int32_t length = 0;
    NettlebeamApiDeviceType type;
    NettlebeamApiVersions versions;
    NettlebeamApiHwFirmwaresDesc desc;
    NettlebeamApiDeviceFeatures features{};
    NettlebeamApiPortsSpeed speeds{};
    NettlebeamApiLinkStatus link{};
    NettlebeamApiStatistics stats{};
    NettlebeamApiCounterV2 counter{};
    NettlebeamApiPacketsTypeFilter types{};
    NettlebeamApiDpiFilter dpi{};
    NettlebeamApiPacketFilter filter{};
    NettlebeamApiTimingStatus timing{};
    NettlebeamApiDiskDumpConfig config{};
    NettlebeamApiDiskDumpStatus capture{};
    uint64_t frames = 0;
    std::vector<uint8_t> buffer(NETTLEBEAM_MEMORY_CAPTURE_MIN_BUFFER);
    int32_t size = static_cast<int32_t>(buffer.size());
    const std::vector<int32_t> statuses = {
        NettlebeamAPIGetDeviceType(h, &type),
        NettlebeamAPIGetDeviceMAC(h, bytes),
        NettlebeamAPIGetDeviceExtraInfo(h, bytes),
        NettlebeamAPIGetVersions(h, &versions),
        NettlebeamAPIGetHwFirmwaresDesc(h, &desc),
        NettlebeamAPIGetDeviceFeatures(h, &features),
        NettlebeamAPISetDeviceFeatures(h, features),
        NettlebeamAPISaveDeviceFeatures(h),
        NettlebeamAPIGetDevicePortsSpeed(h, &speeds),
        NettlebeamAPISetDevicePortsSpeed(h, speeds),
        NettlebeamAPIRestartDevice(h),
        NettlebeamAPIGetLinkStatus(h, &link),
        NettlebeamAPIGetStatistics(h, &stats),
        NettlebeamAPISetCounterV2(h, counter),
        NettlebeamAPIGetCounterV2(h, 0, &counter),
        NettlebeamAPISavePacketsTypeFilter(h),
        NettlebeamAPISetDpiFilter(h, dpi),
        NettlebeamAPIGetDpiFilter(h, &dpi),
        NettlebeamAPISaveDpiFilter(h),
        NettlebeamAPISetPacketFilter(h, filter),
        NettlebeamAPIGetPacketFilter(h, &filter),
        NettlebeamAPISavePacketFilter(h),
        NettlebeamAPISetTimingTime(h, {2, 0, 0}),
        NettlebeamAPIGetTimingStatus(h, &timing),
        NettlebeamAPIGPSOutputRead(h, bytes, sizeof(bytes), &length),
        NettlebeamAPIGPSOutputFlush(h),
        NettlebeamAPIDiskDumpSetConfig(h, config),
        NettlebeamAPIDiskDumpStart(h),
        NettlebeamAPIDiskDumpStop(h),
        NettlebeamAPIDiskDumpGetStatus(h, &capture),
        NettlebeamAPIDiskDumpGetFramesWritten(h, &frames),
        NettlebeamAPIMemoryCaptureStart(h, 0),
        NettlebeamAPIMemoryCaptureStop(h),
        NettlebeamAPIMemoryCaptureGet(h, buffer.data(), &size),
        NettlebeamAPIMemoryCaptureGetHeader(h, buffer.data(), &size),
        NettlebeamAPIFirmwareUpdateStart(h, u"/tmp/none.bin"),
        NettlebeamAPIFirmwareUpdateGetProgress(h, &length),
        NettlebeamAPIAddDeviceCallback(h, 0, nullptr, nullptr),
        NettlebeamAPIRemoveDeviceCallback(h, 0, nullptr),
    };
    for (size_t i = 0; i < statuses.size(); ++i) EXPECT_EQ(statuses[i], -4) << "export #" << i;
    // The packet-type filter asks for the capability first; there is none.
    EXPECT_EQ(NettlebeamAPISetPacketsTypeFilter(h, types), -5);
    EXPECT_EQ(NettlebeamAPIGetPacketsTypeFilter(h, &types), -5);
    EXPECT_EQ(NettlebeamAPIGetDeviceCapabilitiesEx(h), 0u);
    EXPECT_EQ(size, static_cast<int32_t>(buffer.size()));
}

TEST_F(LibraryFrameTest, ADeviceAttachedWhileNoneWasListedIsFoundByPolling) {
    ASSERT_EQ(NettlebeamAPIInitialize(), 0);
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    EXPECT_TRUE(listedHandles().empty());
    int32_t handle = daemon().attach({"--type", "14"});
    EXPECT_TRUE(eventually([&] { return isListed(handle); }));
}

}  // namespace
}  // namespace nettlebeam::apitest
