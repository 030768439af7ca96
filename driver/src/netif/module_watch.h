// The module in one interface's cage, read in the background: a request
// answers from the latest reading, and one older than a second starts a
// fresh reading, so a slow module (its EEPROM sits behind a slow serial
// bus) never holds up the daemon's loop for long. Only the first request
// waits for the first reading. Why the kernel has no module to offer is
// logged when it first appears or changes, not at every reading.
#pragma once

#include <chrono>
#include <future>
#include <optional>
#include <string>
#include <variant>

#include "../sim/module_pages.h"
#include "module_eeprom.h"

namespace nettlebeam::driver::netif {

class ModuleWatch {
  public:
    static constexpr std::chrono::seconds kLifetime{1};

    explicit ModuleWatch(std::string name) : name_(std::move(name)) {}
    ModuleWatch(const ModuleWatch&) = delete;
    ModuleWatch& operator=(const ModuleWatch&) = delete;
    ~ModuleWatch() = default;  // the future waits for a reading under way

    // The module's pages as last read; empty when there is no SFP module.
    std::optional<sim::ModulePages> current();

  private:
    using Reading = std::variant<ModuleEeprom, std::string>;
    void start();
    void take(const Reading& reading);

    std::string name_;
    std::future<Reading> pending_;
    bool haveReading_ = false;
    std::chrono::steady_clock::time_point readAt_{};
    std::optional<sim::ModulePages> pages_;
    std::string loggedReason_;  // the last reason logged; empty after a good reading
};

}  // namespace nettlebeam::driver::netif
