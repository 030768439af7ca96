#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <mutex>
#include <thread>

#include "traffic/batch_mutex.h"

namespace nettlebeam::traffic {
namespace {

// An engine that is behind takes batch after batch without pausing; a
// control-side lock gets in after the batch under way and at most one that
// was just beginning, however long the engine keeps going. A plain mutex lets
// the engine take it back before the woken waiter runs: a third or more of
// the locks then wait several batches, some thousands. The count is read
// around the lock, so a control thread preempted before it asks sees extra
// batches pass: a few such locks are allowed.
TEST(BatchMutex, ControlSideGetsInAfterAtMostOneMoreBatch) {
    BatchMutex mutex;
    std::atomic<bool> stop{false};
    std::atomic<uint64_t> batches{0};
    std::thread engine([&] {
        while (!stop.load()) {
            BatchMutex::Batch batch(mutex);
            // Some work under the lock, as a batch of frames does.
            volatile uint64_t sum = 0;
            for (int i = 0; i < 2000; ++i) sum = sum + static_cast<uint64_t>(i);
            batches.fetch_add(1);
        }
    });
    // The engine runs before the first lock is asked for.
    while (batches.load() < 10) std::this_thread::yield();

    constexpr int kLocks = 300;
    int waitedLonger = 0;
    for (int i = 0; i < kLocks; ++i) {
        const uint64_t before = batches.load();
        {
            std::lock_guard lock(mutex);
            if (batches.load() - before > 2) ++waitedLonger;
        }
        // The engine gets its turn between the control side's locks.
        const uint64_t after = batches.load();
        while (batches.load() == after) std::this_thread::yield();
    }
    stop = true;
    engine.join();
    EXPECT_LT(waitedLonger, kLocks / 10);
}

// Control-side lockers from several threads, each waiting, are all let in,
// and the engine carries on once they are through.
TEST(BatchMutex, EveryControlLockerGetsThroughAndTheEngineCarriesOn) {
    BatchMutex mutex;
    std::atomic<bool> stop{false};
    std::atomic<uint64_t> batches{0};
    uint64_t guarded = 0;  // written under the lock by every thread
    std::thread engine([&] {
        while (!stop.load()) {
            BatchMutex::Batch batch(mutex);
            ++guarded;
            batches.fetch_add(1);
        }
    });
    std::vector<std::thread> control;
    for (int t = 0; t < 3; ++t)
        control.emplace_back([&] {
            for (int i = 0; i < 2000; ++i) {
                std::lock_guard lock(mutex);
                ++guarded;
            }
        });
    for (std::thread& t : control) t.join();
    const uint64_t afterControl = batches.load();
    while (batches.load() < afterControl + 100) std::this_thread::yield();
    stop = true;
    engine.join();
    std::lock_guard lock(mutex);
    EXPECT_EQ(guarded, batches.load() + 3 * 2000);
}

}  // namespace
}  // namespace nettlebeam::traffic
