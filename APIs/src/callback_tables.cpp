#include "callback_tables.h"

#include <algorithm>
#include <vector>

namespace nettlebeam::api {

namespace {

bool sameCallback(const Registration& registration, AnyCallback callback) {
    return registration.callback == callback;
}

}  // namespace

int32_t addRegistration(CallbackTable& table, int32_t kind, const Registration& registration) {
    // A null callback would be called from the monitor thread: refused here.
    if (registration.callback == nullptr) return NETTLEBEAM_STATUS_FAILED;
    std::vector<Registration>& list = table[kind];
    auto found = std::find_if(list.begin(), list.end(), [&](const Registration& existing) {
        return sameCallback(existing, registration.callback);
    });
    if (found != list.end()) return NETTLEBEAM_STATUS_ALREADY_DONE;
    list.push_back(registration);
    return NETTLEBEAM_STATUS_SUCCESS;
}

int32_t removeRegistration(CallbackTable& table, int32_t kind, AnyCallback callback) {
    auto listIt = table.find(kind);
    if (listIt == table.end()) return NETTLEBEAM_STATUS_NOT_FOUND;
    std::vector<Registration>& list = listIt->second;
    auto found = std::find_if(list.begin(), list.end(), [&](const Registration& existing) {
        return sameCallback(existing, callback);
    });
    if (found == list.end()) return NETTLEBEAM_STATUS_NOT_FOUND;
    list.erase(found);
    return NETTLEBEAM_STATUS_SUCCESS;
}

void invoke(const Registration& registration, int32_t handle, void* payload) {
    if (registration.withPayload) {
        reinterpret_cast<NettlebeamApiCallback>(registration.callback)(handle, payload,
                                                                       registration.userData);
    } else {
        reinterpret_cast<NettlebeamApiSimpleCallback>(registration.callback)(handle,
                                                                             registration.userData);
    }
}

GlobalCallbacks& GlobalCallbacks::instance() {
    static GlobalCallbacks callbacks;
    return callbacks;
}

int32_t GlobalCallbacks::add(int32_t kind, const Registration& registration) {
    std::lock_guard guard(lock_);
    return addRegistration(table_, kind, registration);
}

int32_t GlobalCallbacks::remove(int32_t kind, AnyCallback callback) {
    std::lock_guard guard(lock_);
    return removeRegistration(table_, kind, callback);
}

void GlobalCallbacks::raise(int32_t kind, int32_t handle) {
    std::vector<Registration> snapshot;
    {
        std::lock_guard guard(lock_);
        auto found = table_.find(kind);
        if (found == table_.end()) return;
        snapshot = found->second;
    }
    for (const Registration& registration : snapshot) invoke(registration, handle, nullptr);
}

void raiseDeviceCallbacks(Library& library, int32_t kind, int32_t handle, void* payload) {
    std::lock_guard guard(library.lock());
    DeviceRecord* record = library.findLocked(handle);
    if (record == nullptr) return;
    auto found = record->callbacks.find(kind);
    if (found == record->callbacks.end()) return;
    for (const Registration& registration : found->second) invoke(registration, handle, payload);
}

}  // namespace nettlebeam::api
