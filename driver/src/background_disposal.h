// Tears objects down on a thread of its own, one after the other in the
// order they were handed over. For teardown that waits on the disk (a
// capture writing out its cache and closing its file), which must not hold
// up the daemon's request loop. Destroying the disposal waits until
// everything handed to it is gone.
#pragma once

#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>
#include <thread>

namespace nettlebeam::driver {

class BackgroundDisposal {
  public:
    BackgroundDisposal() = default;
    ~BackgroundDisposal();
    BackgroundDisposal(const BackgroundDisposal&) = delete;
    BackgroundDisposal& operator=(const BackgroundDisposal&) = delete;

    // The object's last owner becomes the disposal thread.
    void dispose(std::shared_ptr<void> object);

  private:
    void run();

    std::mutex mutex_;
    std::condition_variable wake_;
    std::deque<std::shared_ptr<void>> pending_;
    bool closing_ = false;
    std::thread thread_;  // started with the first object
};

}  // namespace nettlebeam::driver
