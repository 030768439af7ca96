#include "library_state.h"

#include <exception>

#include "callback_tables.h"
#include "monitor.h"
#include "shared_memory_capture.h"

namespace nettlebeam::api {

Library::Library() {
    // The monitor raises global callbacks until this object is destroyed, so
    // their table must be constructed first (and thereby destroyed last).
    GlobalCallbacks::instance();
}

Library& Library::instance() {
    static Library library;
    return library;
}

Library::~Library() {
    // A process that ends without shutting the library down must not leave the
    // monitor running into destroyed state.
    std::lock_guard lifecycle(lifecycle_);
    stopMonitor();
}

DeviceRecord* Library::findLocked(int32_t handle) {
    for (auto& record : devices_)
        if (record.handle == handle) return &record;
    return nullptr;
}

bool Library::isListed(int32_t handle) {
    std::lock_guard guard(lock_);
    return findLocked(handle) != nullptr;
}

std::optional<DeviceIdentity> Library::identity(int32_t handle) {
    std::lock_guard guard(lock_);
    const DeviceRecord* record = findLocked(handle);
    if (record == nullptr) return std::nullopt;
    return DeviceIdentity{record->type, record->versions};
}

void Library::rememberMac(int32_t handle, const MacAddress& mac) {
    std::lock_guard guard(lock_);
    if (DeviceRecord* record = findLocked(handle)) record->mac = mac;
}

int32_t Library::initialize() {
    std::lock_guard lifecycle(lifecycle_);
    std::lock_guard guard(lock_);
    if (initialized_) return -2;
    auto control = std::make_shared<MonitorControl>();
    try {
        monitor_ = std::thread(runMonitor, std::ref(*this), control);
    } catch (const std::exception&) {
        return -1;  // no thread could be started: the library stays uninitialised
    }
    monitorControl_ = std::move(control);
    initialized_ = true;
    return 0;
}

void Library::stopMonitor() {
    if (monitorControl_) monitorControl_->stop();
    monitorControl_.reset();
    if (!monitor_.joinable()) return;
    if (monitor_.get_id() == std::this_thread::get_id()) {
        // Shutdown asked from a callback on the monitor itself: it cannot wait
        // for itself; it leaves its loop as soon as the callback returns.
        monitor_.detach();
        return;
    }
    monitor_.join();
}

int32_t Library::uninitialize() {
    std::lock_guard lifecycle(lifecycle_);
    {
        std::lock_guard guard(lock_);
        if (!initialized_) return 0;
    }
    stopMonitor();
    forgetAllSharedMemoryCaptures();
    std::lock_guard guard(lock_);
    devices_.clear();
    initialized_ = false;
    return 0;
}

}  // namespace nettlebeam::api
