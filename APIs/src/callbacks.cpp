// The callback registration exports.
#include "NettlebeamAPI.h"
#include "callback_tables.h"
#include "export_guard.h"
#include "library_state.h"

using nettlebeam::api::GlobalCallbacks;
using nettlebeam::api::Library;
using nettlebeam::api::Registration;
using nettlebeam::api::untyped;

namespace api = nettlebeam::api;

extern "C" {

int32_t NettlebeamAPIAddGlobalCallback(int32_t kind, NettlebeamApiCallback callback,
                                       void* userData) {
    return api::guardedExport([&]() -> int32_t {
        return GlobalCallbacks::instance().add(kind, {untyped(callback), userData, true});
    });
}

int32_t NettlebeamAPIRemoveGlobalCallback(int32_t kind, NettlebeamApiCallback callback) {
    return api::guardedExport(
        [&]() -> int32_t { return GlobalCallbacks::instance().remove(kind, untyped(callback)); });
}

int32_t NettlebeamAPIAddNewDeviceCallback(NettlebeamApiSimpleCallback callback, void* userData) {
    return api::guardedExport([&]() -> int32_t {
        return GlobalCallbacks::instance().add(NETTLEBEAM_CALLBACK_NEW_DEVICE,
                                               {untyped(callback), userData, false});
    });
}

int32_t NettlebeamAPIRemoveNewDeviceCallback(NettlebeamApiSimpleCallback callback) {
    return api::guardedExport([&]() -> int32_t {
        return GlobalCallbacks::instance().remove(NETTLEBEAM_CALLBACK_NEW_DEVICE,
                                                  untyped(callback));
    });
}

int32_t NettlebeamAPIAddDeviceGoneCallback(NettlebeamApiSimpleCallback callback, void* userData) {
    return api::guardedExport([&]() -> int32_t {
        return GlobalCallbacks::instance().add(NETTLEBEAM_CALLBACK_DEVICE_GONE,
                                               {untyped(callback), userData, false});
    });
}

int32_t NettlebeamAPIRemoveDeviceGoneCallback(NettlebeamApiSimpleCallback callback) {
    return api::guardedExport([&]() -> int32_t {
        return GlobalCallbacks::instance().remove(NETTLEBEAM_CALLBACK_DEVICE_GONE,
                                                  untyped(callback));
    });
}

int32_t NettlebeamAPIAddDeviceCallback(NettlebeamApiDeviceHandle handle, int32_t kind,
                                       NettlebeamApiCallback callback, void* userData) {
    return api::guardedExport([&]() -> int32_t {
        Library& library = Library::instance();
        std::lock_guard guard(library.lock());
        nettlebeam::api::DeviceRecord* record = library.findLocked(handle);
        if (record == nullptr) return NETTLEBEAM_STATUS_UNKNOWN_HANDLE;
        return addRegistration(record->callbacks, kind,
                               Registration{untyped(callback), userData, true});
    });
}

int32_t NettlebeamAPIRemoveDeviceCallback(NettlebeamApiDeviceHandle handle, int32_t kind,
                                          NettlebeamApiCallback callback) {
    return api::guardedExport([&]() -> int32_t {
        Library& library = Library::instance();
        std::lock_guard guard(library.lock());
        nettlebeam::api::DeviceRecord* record = library.findLocked(handle);
        if (record == nullptr) return NETTLEBEAM_STATUS_UNKNOWN_HANDLE;
        return removeRegistration(record->callbacks, kind, untyped(callback));
    });
}

}  // extern "C"
