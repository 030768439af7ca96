// nettlebeam-exporter on a free loopback port, talking to a test's daemon.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "child_process.h"
#include "nettlebeam_testsupport.h"

namespace nettlebeam::exporter::testing {

class RunningExporter {
  public:
    // Throws std::runtime_error when it does not say which port it took.
    RunningExporter(const testsupport::Daemon& daemon, const std::vector<std::string>& args = {});
    unsigned port() const { return port_; }
    const ChildProcess& process() const { return *process_; }
    // One scrape's body; empty when it was not answered with 200.
    std::string scrape() const;

  private:
    std::unique_ptr<ChildProcess> process_;
    unsigned port_ = 0;
};

// Polls `condition` every 100 ms until it holds or `seconds` pass.
template <typename Condition>
bool waitUntil(Condition condition, int seconds = 90);

}  // namespace nettlebeam::exporter::testing

#include <chrono>
#include <thread>

template <typename Condition>
bool nettlebeam::exporter::testing::waitUntil(Condition condition, int seconds) {
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
    while (!condition()) {
        if (std::chrono::steady_clock::now() > deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    return true;
}
