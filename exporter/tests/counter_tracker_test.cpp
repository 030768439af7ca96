#include "counter_tracker.h"

#include <gtest/gtest.h>

namespace nettlebeam::exporter {
namespace {

const std::string kDevice = "00:1b:c5:0a:00:01";

TEST(CounterTracker, PassesCountersThroughWhileTheDeviceRunsOn) {
    CounterTracker tracker;
    EXPECT_FALSE(tracker.beginDevice(kDevice, 1000));
    EXPECT_EQ(tracker.counter(kDevice, "frames", 100), 100);
    EXPECT_FALSE(tracker.beginDevice(kDevice, 2000));
    EXPECT_EQ(tracker.counter(kDevice, "frames", 250), 250);
    // One counter reprogrammed: it falls on its own, which Prometheus reads as a reset.
    EXPECT_FALSE(tracker.beginDevice(kDevice, 3000));
    EXPECT_EQ(tracker.counter(kDevice, "frames", 3), 3);
}

TEST(CounterTracker, RestartAfterWhichACounterClimbedPastItsLastValueShowsAsZeroOnce) {
    CounterTracker tracker;
    tracker.beginDevice(kDevice, 60'000);
    EXPECT_EQ(tracker.counter(kDevice, "frames", 1000), 1000);
    EXPECT_EQ(tracker.counter(kDevice, "crc", 10), 10);
    // Restarted between two scrapes; frames already beyond 1000 again.
    EXPECT_TRUE(tracker.beginDevice(kDevice, 500));
    EXPECT_EQ(tracker.counter(kDevice, "frames", 1500), 0);
    EXPECT_EQ(tracker.counter(kDevice, "crc", 2), 2);  // below: a reset by itself
    // From then on the values of the new life, never below the 0 shown.
    EXPECT_FALSE(tracker.beginDevice(kDevice, 1500));
    EXPECT_EQ(tracker.counter(kDevice, "frames", 1600), 1600);
    EXPECT_EQ(tracker.counter(kDevice, "crc", 3), 3);
}

TEST(CounterTracker, DevicesAreTrackedApartAndAForgottenOneStartsAfresh) {
    CounterTracker tracker;
    const std::string other = "00:1b:c5:0a:00:02";
    tracker.beginDevice(kDevice, 9000);
    tracker.counter(kDevice, "frames", 100);
    tracker.beginDevice(other, 10);  // another device's small uptime is no restart of the first
    EXPECT_EQ(tracker.counter(other, "frames", 5), 5);
    EXPECT_FALSE(tracker.beginDevice(kDevice, 9500));
    EXPECT_EQ(tracker.counter(kDevice, "frames", 120), 120);
    tracker.keepOnly({other});
    // Back after it left: its first value is taken as it is.
    EXPECT_FALSE(tracker.beginDevice(kDevice, 100));
    EXPECT_EQ(tracker.counter(kDevice, "frames", 200), 200);
}

}  // namespace
}  // namespace nettlebeam::exporter
