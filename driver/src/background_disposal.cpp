#include "background_disposal.h"

#include <pthread.h>

#include <utility>

namespace nettlebeam::driver {

BackgroundDisposal::~BackgroundDisposal() {
    {
        std::lock_guard lock(mutex_);
        closing_ = true;
    }
    wake_.notify_one();
    if (thread_.joinable()) thread_.join();
}

void BackgroundDisposal::dispose(std::shared_ptr<void> object) {
    if (!object) return;
    {
        std::lock_guard lock(mutex_);
        pending_.push_back(std::move(object));
        if (!thread_.joinable())
            thread_ = std::thread([this] {
                pthread_setname_np(pthread_self(), "nb-teardown");
                run();
            });
    }
    wake_.notify_one();
}

void BackgroundDisposal::run() {
    std::unique_lock lock(mutex_);
    while (true) {
        wake_.wait(lock, [this] { return closing_ || !pending_.empty(); });
        if (pending_.empty()) return;  // closing, and nothing left
        std::shared_ptr<void> object = std::move(pending_.front());
        pending_.pop_front();
        lock.unlock();
        object.reset();
        lock.lock();
    }
}

}  // namespace nettlebeam::driver
