// Exports called from several threads while devices come and go, callbacks
// are registered and removed, and the library is restarted. Meant to be run
// under ThreadSanitizer too (see tsan.sh).
#include <gtest/gtest.h>

#include <atomic>
#include <set>
#include <thread>
#include <vector>

#include "library_fixture.h"

namespace nettlebeam::apitest {
namespace {

std::atomic<int> arrivals{0};
void countArrival(NettlebeamApiDeviceHandle, void*) {
    arrivals.fetch_add(1);
}
void countDeparture(NettlebeamApiDeviceHandle, void*) {}
void onCapture(NettlebeamApiDeviceHandle, void*, void*) {}

// Statuses a per-device export may give while its device comes and goes.
bool plausible(int32_t status) {
    return status == 0 || status == -1 || status == -2 || status == -4 || status == -5 ||
           status > 0;
}

using ConcurrencyTest = LibraryTest;

TEST_F(ConcurrencyTest, ExportsFromManyThreadsWhileDevicesComeAndGo) {
    attachListed({"--type", "5"});
    std::atomic<bool> stop{false};
    std::atomic<int> implausible{0};
    auto check = [&](int32_t status) {
        if (!plausible(status)) implausible.fetch_add(1);
    };

    std::vector<std::thread> callers;
    for (int t = 0; t < 3; ++t) {
        callers.emplace_back([&] {
            while (!stop.load()) {
                for (int32_t handle : listedHandles()) {
                    uint8_t mac[6];
                    NettlebeamApiStatistics stats{};
                    NettlebeamApiDeviceFeatures features{};
                    NettlebeamApiDeviceType type = 0;
                    check(NettlebeamAPIGetDeviceMAC(handle, mac));
                    check(NettlebeamAPIGetStatistics(handle, &stats));
                    check(NettlebeamAPIGetDeviceFeatures(handle, &features));
                    check(NettlebeamAPIGetDeviceType(handle, &type));
                    NettlebeamAPIGetDeviceCapabilitiesEx(handle);
                    int32_t added = NettlebeamAPIAddDeviceCallback(handle, 0, &onCapture, nullptr);
                    if (added == 0) NettlebeamAPIRemoveDeviceCallback(handle, 0, &onCapture);
                }
            }
        });
    }
    // Global registrations change while the monitor raises them.
    callers.emplace_back([&] {
        while (!stop.load()) {
            NettlebeamAPIAddNewDeviceCallback(&countArrival, nullptr);
            NettlebeamAPIAddDeviceGoneCallback(&countDeparture, nullptr);
            std::this_thread::yield();
            NettlebeamAPIRemoveDeviceGoneCallback(&countDeparture);
        }
        NettlebeamAPIRemoveNewDeviceCallback(&countArrival);
    });

    std::set<int32_t> attached;
    for (int round = 0; round < 12; ++round) {
        int32_t handle = daemon().attach({"--type", round % 2 ? "11" : "13"});
        attached.insert(handle);
        if (round % 3 == 2) {
            daemon().detach(*attached.begin());
            attached.erase(attached.begin());
        }
        daemon().event({"4", std::to_string(handle), "--word", "1"});
        if (round == 6) {
            EXPECT_EQ(NettlebeamAPIUninitialize(), 0);
            EXPECT_EQ(NettlebeamAPIInitialize(), 0);
        }
    }
    stop.store(true);
    for (auto& caller : callers) caller.join();

    EXPECT_EQ(implausible.load(), 0);
    // The list settles on what the driver has, each device once.
    EXPECT_TRUE(eventually([&] { return listedHandles().size() == attached.size() + 1; }));
    std::vector<int32_t> listed = listedHandles();
    EXPECT_EQ(std::set<int32_t>(listed.begin(), listed.end()).size(), listed.size());
    for (int32_t handle : attached) EXPECT_TRUE(isListed(handle)) << handle;
}

// Exports that need a capability answer -4, never -5 (as if the device lacked
// it), when their device goes while they run. The calls chosen fail after the
// checks without a request, so the callers spend their time in the checks.
TEST_F(ConcurrencyTest, ADeviceThatGoesIsUnknownNotUnsupported) {
    int32_t handle = attachListed({"--type", "12"});
    const uint32_t needed = CapTiming | CapPacketFilter | CapStatisticsV2;
    ASSERT_EQ(NettlebeamAPIGetDeviceCapabilitiesEx(handle) & needed, needed);
    std::atomic<int32_t> current{handle};
    std::atomic<bool> stop{false};
    std::atomic<int> unsupported{0};
    std::vector<std::thread> callers;
    for (int t = 0; t < 3; ++t) {
        callers.emplace_back([&] {
            while (!stop.load()) {
                int32_t h = current.load();
                int32_t length = 0;
                for (int32_t status : {NettlebeamAPIGetDpiFilter(h, nullptr),
                                       NettlebeamAPIGetPacketFilter(h, nullptr),
                                       NettlebeamAPIGPSOutputRead(h, nullptr, -1, &length),
                                       NettlebeamAPIGetCounterV2(h, 99, nullptr)})
                    if (status == -5) unsupported.fetch_add(1);
            }
        });
    }
    for (int round = 0; round < 25 && unsupported.load() == 0; ++round) {
        daemon().detach(current.load());
        EXPECT_TRUE(eventually([&] { return listedHandles().empty(); }));
        int32_t next = daemon().attach({"--type", "12"});
        EXPECT_TRUE(eventually([&] { return isListed(next); }));
        current.store(next);
    }
    stop.store(true);
    for (auto& caller : callers) caller.join();
    EXPECT_EQ(unsupported.load(), 0);
}

}  // namespace
}  // namespace nettlebeam::apitest
