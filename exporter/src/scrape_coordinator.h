// Reads the devices on one thread and hands the result to any number of
// concurrent scrapes.
//
// Scrapes that arrive while the devices are being read share the next
// reading instead of queuing one each: 200 scrapers cost one reading. A
// scrape waits for that reading for at most its timeout; a device that has
// not answered by then just drops out of that scrape, and a device that
// leaves mid-reading drops out the same way. The library is only ever
// called from the reading thread.
#pragma once

#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <set>
#include <string>
#include <thread>

#include "counter_tracker.h"
#include "family_set.h"

namespace nettlebeam::exporter {

struct ScrapeOptions {
    std::set<std::string> devices;  // MAC addresses; empty means all
    std::chrono::milliseconds timeout{5000};
};

class ScrapeCoordinator {
  public:
    // `driverAnswers` tells whether a driver serves the control socket; it
    // decides nettlebeam_up when no device answered.
    ScrapeCoordinator(ScrapeOptions options, std::function<bool()> driverAnswers);
    ~ScrapeCoordinator();
    ScrapeCoordinator(const ScrapeCoordinator&) = delete;
    ScrapeCoordinator& operator=(const ScrapeCoordinator&) = delete;

    // The exposition text of one scrape. Thread-safe; never throws.
    std::string scrape();

  private:
    void run();
    void readRound();

    ScrapeOptions options_;
    std::function<bool()> driverAnswers_;
    CounterTracker tracker_;  // reading thread only

    std::mutex lock_;
    std::condition_variable changed_;
    bool stopping_ = false;
    uint64_t requested_ = 0;  // the newest round a scrape waits for
    uint64_t started_ = 0;
    uint64_t finished_ = 0;
    FamilySet partial_;  // devices read so far in the running round
    bool partialAnswered_ = false;
    FamilySet complete_;  // the last finished round
    bool completeUp_ = false;
    std::thread thread_;
};

}  // namespace nettlebeam::exporter
