// Registration lists of the global and per-device callback tables, and the
// raising of their callbacks.
#pragma once

#include <cstdint>
#include <mutex>

#include "NettlebeamAPI.h"
#include "library_state.h"

namespace nettlebeam::api {

// 0 when added; -2 when the callback pointer is already in the kind's list
// (in either form); -1 for a null callback.
int32_t addRegistration(CallbackTable& table, int32_t kind, const Registration& registration);
// 0 when the first registration of the kind with that pointer was removed; -3
// when there is none.
int32_t removeRegistration(CallbackTable& table, int32_t kind, AnyCallback callback);

inline AnyCallback untyped(NettlebeamApiCallback callback) {
    return reinterpret_cast<AnyCallback>(callback);
}
inline AnyCallback untyped(NettlebeamApiSimpleCallback callback) {
    return reinterpret_cast<AnyCallback>(callback);
}

// Calls one registration in the form it was made with.
void invoke(const Registration& registration, int32_t handle, void* payload);

// The global table (device arrival and removal). It has its own lock, held
// only while the lists change or are copied: the callbacks themselves run
// without any lock, so they may call every export.
class GlobalCallbacks {
  public:
    static GlobalCallbacks& instance();
    int32_t add(int32_t kind, const Registration& registration);
    int32_t remove(int32_t kind, AnyCallback callback);
    // Calls every registration of the kind in registration order.
    void raise(int32_t kind, int32_t handle);

  private:
    std::mutex lock_;
    CallbackTable table_;
};

// Calls the device's registrations of the kind in registration order, with the
// library lock held (as the device tables are guarded by it). Nothing happens
// when the device is not listed.
void raiseDeviceCallbacks(Library& library, int32_t kind, int32_t handle, void* payload);

}  // namespace nettlebeam::api
