// Records the callbacks the library raises, in order, for the tests to check.
#pragma once

#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "NettlebeamAPI.h"

namespace nettlebeam::apitest {

struct RaisedCallback {
    RaisedCallback(std::string what, int32_t handle) : what(std::move(what)), handle(handle) {}
    std::string what;  // "new", "gone", "state", "file"
    int32_t handle = 0;
    bool enabled = false;
    int32_t error = 0;
    std::u16string fileName;
    // Filled by the device-gone callback: whether the device could still be
    // read while its notification ran.
    int32_t typeStatusDuringCall = 0;
};

class CallbackRecorder {
  public:
    void record(RaisedCallback raised) {
        std::lock_guard guard(lock_);
        raised_.push_back(std::move(raised));
    }
    std::vector<RaisedCallback> raised() {
        std::lock_guard guard(lock_);
        return raised_;
    }
    int count(const std::string& what, int32_t handle) {
        int n = 0;
        for (const auto& raised : raised())
            if (raised.what == what && raised.handle == handle) ++n;
        return n;
    }

    static void onNewDevice(NettlebeamApiDeviceHandle handle, void* self) {
        static_cast<CallbackRecorder*>(self)->record({"new", handle});
    }
    static void onDeviceGone(NettlebeamApiDeviceHandle handle, void* self) {
        RaisedCallback raised{"gone", handle};
        NettlebeamApiDeviceType type = 0;
        raised.typeStatusDuringCall = NettlebeamAPIGetDeviceType(handle, &type);
        static_cast<CallbackRecorder*>(self)->record(raised);
    }
    static void onCaptureState(NettlebeamApiDeviceHandle handle, void* payload, void* self) {
        auto* value = static_cast<NettlebeamApiCallbackValue_DiskDump*>(payload);
        RaisedCallback raised{"state", handle};
        raised.enabled = value->enabled != 0;
        raised.error = value->error;
        static_cast<CallbackRecorder*>(self)->record(raised);
    }
    static void onNewFile(NettlebeamApiDeviceHandle handle, void* payload, void* self) {
        RaisedCallback raised{"file", handle};
        raised.fileName = static_cast<const char16_t*>(payload);
        static_cast<CallbackRecorder*>(self)->record(raised);
    }

  private:
    std::mutex lock_;
    std::vector<RaisedCallback> raised_;
};

// Registers the recorder's arrival and removal callbacks for one test.
class GlobalRegistration {
  public:
    explicit GlobalRegistration(CallbackRecorder& recorder) {
        NettlebeamAPIAddNewDeviceCallback(&CallbackRecorder::onNewDevice, &recorder);
        NettlebeamAPIAddDeviceGoneCallback(&CallbackRecorder::onDeviceGone, &recorder);
    }
    ~GlobalRegistration() {
        NettlebeamAPIRemoveNewDeviceCallback(&CallbackRecorder::onNewDevice);
        NettlebeamAPIRemoveDeviceGoneCallback(&CallbackRecorder::onDeviceGone);
    }
};

}  // namespace nettlebeam::apitest
