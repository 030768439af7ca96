// The stop switch of one run of the monitor thread.
//
// Each run gets its own, so a monitor that is still finishing (shutdown asked
// from one of its own callbacks) can never be restarted by a later
// initialisation that sets a shared flag again.
#pragma once

#include <sys/eventfd.h>
#include <unistd.h>

#include <atomic>
#include <cstdint>

namespace nettlebeam::api {

class MonitorControl {
  public:
    MonitorControl() : cancelFd_(eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {}
    ~MonitorControl() {
        if (cancelFd_ >= 0) close(cancelFd_);
    }
    MonitorControl(const MonitorControl&) = delete;
    MonitorControl& operator=(const MonitorControl&) = delete;

    bool running() const { return running_.load(std::memory_order_acquire); }
    // Readable once stop() was called: blocked driver waits watch it.
    int cancelFd() const { return cancelFd_; }

    void stop() {
        running_.store(false, std::memory_order_release);
        if (cancelFd_ >= 0) {
            uint64_t one = 1;
            [[maybe_unused]] ssize_t written = write(cancelFd_, &one, sizeof(one));
        }
    }

  private:
    std::atomic<bool> running_{true};
    int cancelFd_;
};

}  // namespace nettlebeam::api
