// The lock between a traffic engine, which takes it for batch after batch of
// frames, and the control side (the request loop, a capture's writer), which
// needs it now and then to start, stop or replace what the batches write to.
//
// With a plain mutex an engine that is behind takes the lock again the
// instant it lets go of it: a woken waiter finds it taken and sleeps again,
// and a control request can wait as long as the engine stays behind, for
// seconds under load. Here the engine gives way before its next batch while
// anyone on the control side waits, so a control request waits for at most
// the batch under way and one that was just beginning.
#pragma once

#include <atomic>
#include <condition_variable>
#include <mutex>

namespace nettlebeam::traffic {

class BatchMutex {
  public:
    // Control side; meets the standard's BasicLockable needs, for std::lock_guard.
    void lock() {
        waiting_.fetch_add(1);
        mutex_.lock();
        if (waiting_.fetch_sub(1) == 1) {
            // Taken and released so that an engine between its check and
            // its wait cannot miss the notification.
            { std::lock_guard turn(turnMutex_); }
            turn_.notify_all();
        }
    }
    void unlock() { mutex_.unlock(); }

    // Engine side: one batch holds the lock from construction to destruction.
    class Batch {
      public:
        explicit Batch(BatchMutex& lock) : lock_(lock) {
            if (lock_.waiting_.load() > 0) {
                std::unique_lock turn(lock_.turnMutex_);
                lock_.turn_.wait(turn, [this] { return lock_.waiting_.load() == 0; });
            }
            lock_.mutex_.lock();
        }
        ~Batch() { lock_.mutex_.unlock(); }
        Batch(const Batch&) = delete;
        Batch& operator=(const Batch&) = delete;

      private:
        BatchMutex& lock_;
    };

  private:
    std::mutex mutex_;
    std::atomic<int> waiting_{0};  // control-side lockers not yet through
    std::mutex turnMutex_;
    std::condition_variable turn_;
};

}  // namespace nettlebeam::traffic
