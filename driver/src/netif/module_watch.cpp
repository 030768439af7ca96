#include "module_watch.h"

#include <system_error>

#include "../log.h"

namespace nettlebeam::driver::netif {

std::optional<sim::ModulePages> ModuleWatch::current() {
    using namespace std::chrono;
    if (pending_.valid() &&
        (!haveReading_ || pending_.wait_for(seconds(0)) == std::future_status::ready))
        take(pending_.get());
    if (!pending_.valid() && (!haveReading_ || steady_clock::now() - readAt_ >= kLifetime)) {
        start();
        if (!haveReading_ && pending_.valid()) take(pending_.get());
    }
    return pages_;
}

void ModuleWatch::start() {
    try {
        pending_ = std::async(std::launch::async, [name = name_]() -> Reading {
            try {
                return readModuleEeprom(name);
            } catch (const std::exception& e) {
                return "interface " + name + ": cannot read its module: " + e.what();
            }
        });
    } catch (const std::system_error& e) {
        take("interface " + name_ + ": cannot start reading its module: " + e.what());
    }
}

void ModuleWatch::take(const Reading& reading) {
    haveReading_ = true;
    readAt_ = std::chrono::steady_clock::now();
    std::string reason;
    if (const auto* eeprom = std::get_if<ModuleEeprom>(&reading)) {
        pages_ = modulePagesFrom(eeprom->type, eeprom->length, eeprom->bytes);
        if (!pages_)
            reason = "interface " + name_ +
                     " holds a module without a whole SFP serial ID page (EEPROM layout " +
                     std::to_string(eeprom->type) + ", " + std::to_string(eeprom->length) +
                     " bytes): no module reported";
    } else {
        pages_.reset();
        reason = std::get<std::string>(reading) + ": no module reported";
    }
    if (!reason.empty() && reason != loggedReason_) logLine("interface device: " + reason);
    loggedReason_ = reason;
}

}  // namespace nettlebeam::driver::netif
