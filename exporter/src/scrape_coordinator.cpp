#include "scrape_coordinator.h"

#include <NettlebeamAPI.h>

#include <cstdio>
#include <exception>
#include <vector>

#include "collectors.h"
#include "device_reader.h"

namespace nettlebeam::exporter {

ScrapeCoordinator::ScrapeCoordinator(ScrapeOptions options, std::function<bool()> driverAnswers)
    : options_(std::move(options)), driverAnswers_(std::move(driverAnswers)) {
    thread_ = std::thread([this] { run(); });
}

ScrapeCoordinator::~ScrapeCoordinator() {
    {
        std::lock_guard guard(lock_);
        stopping_ = true;
    }
    changed_.notify_all();
    thread_.join();
}

void ScrapeCoordinator::run() {
    std::unique_lock guard(lock_);
    while (true) {
        changed_.wait(guard, [&] { return stopping_ || requested_ > started_; });
        if (stopping_) return;
        ++started_;
        partial_ = FamilySet();
        partialAnswered_ = false;
        guard.unlock();
        try {
            readRound();
        } catch (const std::exception& e) {
            // Out of memory or a bad name: this round reports what it had.
            std::fprintf(stderr, "nettlebeam-exporter: reading devices failed: %s\n", e.what());
        }
        guard.lock();
        finished_ = started_;
        changed_.notify_all();
    }
}

void ScrapeCoordinator::readRound() {
    std::vector<NettlebeamApiDeviceHandle> handles;
    if (NettlebeamApiDevicesList* list = NettlebeamAPIGetDevicesList()) {
        for (auto* entry = list->first; entry != nullptr; entry = entry->next)
            handles.push_back(static_cast<NettlebeamApiDeviceHandle>(entry->handle));
        NettlebeamApiDeviceListFree(list);
    }
    std::set<std::string> seen;
    for (NettlebeamApiDeviceHandle handle : handles) {
        std::optional<DeviceSample> sample = readDevice(handle, options_.devices);
        if (!sample) continue;
        seen.insert(sample->mac);
        FamilySet families = collectDevice(*sample, tracker_);
        std::lock_guard guard(lock_);
        partial_.merge(families);
        partialAnswered_ = true;
    }
    tracker_.keepOnly(seen);
    bool up = !seen.empty() || driverAnswers_();
    std::lock_guard guard(lock_);
    complete_ = partial_;
    completeUp_ = up;
}

std::string ScrapeCoordinator::scrape() {
    auto start = std::chrono::steady_clock::now();
    try {
        FamilySet families;
        bool up = false;
        {
            std::unique_lock guard(lock_);
            // A round that starts after this scrape arrived: counters are
            // never older than the request.
            uint64_t target = started_ + 1;
            if (requested_ < target) requested_ = target;
            changed_.notify_all();
            if (changed_.wait_until(guard, start + options_.timeout,
                                    [&] { return finished_ >= target || stopping_; })) {
                families = complete_;
                up = completeUp_;
            } else {
                families = partial_;
                up = partialAnswered_ || completeUp_;
            }
        }
        FamilySet out;
        out.family("nettlebeam_up", "1 when the driver answered.", MetricType::Gauge)
            .add({}, up ? 1 : 0);
        out.merge(families);
        std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
        out.family("nettlebeam_scrape_duration_seconds", "Time this scrape took.",
                   MetricType::Gauge)
            .add({}, took.count());
        std::string text;
        writeFamilies(out.families(), text);
        return text;
    } catch (const std::exception& e) {
        std::fprintf(stderr, "nettlebeam-exporter: scrape failed: %s\n", e.what());
        return "nettlebeam_up 0\n";
    }
}

}  // namespace nettlebeam::exporter
