#include "monitor.h"

#include <poll.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "byte_order.h"
#include "callback_tables.h"
#include "codec/events.h"
#include "device_identification.h"
#include "driver_channel.h"
#include "request_codes.h"
#include "shared_memory_capture.h"

namespace nettlebeam::api {

namespace {

constexpr int kEnumerationPauseMs = 500;
// After an event wait fails, the next is put off by a pause that doubles with
// each further failure: a driver whose wait keeps failing is not hammered.
constexpr int kFirstWaitRetryPauseMs = 10;
constexpr int kLongestWaitRetryPauseMs = 500;

// Sleeps between enumerations or event wait retries; returns early when the
// monitor is stopped.
void pauseUnlessStopped(const MonitorControl& control, int milliseconds) {
    pollfd cancel{control.cancelFd(), POLLIN, 0};
    poll(&cancel, 1, milliseconds);
}

// The handles the driver lists, in its order. Empty when it cannot be asked.
std::vector<int32_t> enumerateHandles() {
    std::array<uint8_t, wire::kEnumerationReplyBytes> reply{};
    int32_t result = sendUnaddressed(wire::code::kEnumerate, reply.data(), reply.size());
    std::vector<int32_t> handles;
    // Whole 32-bit handles only; a trailing partial one is ignored.
    for (int32_t offset = 0; offset + 4 <= result; offset += 4)
        handles.push_back(static_cast<int32_t>(wire::readLe32(reply, offset)));
    return handles;
}

class Monitor {
  public:
    Monitor(Library& library, const MonitorControl& control)
        : library_(library), control_(control) {}

    void run() {
        int waitRetryPauseMs = kFirstWaitRetryPauseMs;
        while (control_.running()) {
            if (!enumerate()) {
                pauseUnlessStopped(control_, kEnumerationPauseMs);
                continue;
            }
            if (waitForEvents()) {
                waitRetryPauseMs = kFirstWaitRetryPauseMs;
                continue;
            }
            pauseUnlessStopped(control_, waitRetryPauseMs);
            waitRetryPauseMs = std::min(2 * waitRetryPauseMs, kLongestWaitRetryPauseMs);
        }
    }

  private:
    // The enumeration state: true when at least one device is listed. The
    // devices of one enumeration join the list together: a program that
    // reads the list once it is no longer empty (a tool picking the second
    // device right after its start) sees every device attached before it.
    bool enumerate() {
        std::vector<int32_t> handles = enumerateHandles();
        removeUnlisted(handles);
        std::vector<DeviceRecord> arrivals;
        for (int32_t handle : handles) {
            if (!control_.running()) return false;
            if (std::optional<DeviceRecord> record = identifyArrival(handle))
                arrivals.push_back(std::move(*record));
        }
        join(std::move(arrivals));
        return !handles.empty();
    }

    // The event state: stays until a wait fails or the monitor is stopped.
    // True when at least one wait succeeded before that.
    bool waitForEvents() {
        std::vector<uint8_t> record(wire::kEventRecordBytes);
        bool waited = false;
        while (control_.running()) {
            int32_t result =
                sendUnaddressed(wire::code::kEventWait, record.data(),
                                static_cast<uint32_t>(record.size()), wire::ReplyWait::LongPoll);
            // The driver sends whole records: a shorter reply is a failed
            // wait like any other, so a driver that answers such at once is
            // asked again only after the growing pause, not in a busy loop.
            if (result != static_cast<int32_t>(record.size()) || !control_.running()) return waited;
            waited = true;
            auto event = codec::decodeEvent(std::span(record.data(), static_cast<size_t>(result)));
            if (event) handleEvent(*event);
        }
        return waited;
    }

    void handleEvent(const codec::DeviceEvent& event) {
        switch (event.kind) {
            case codec::kEventDeviceArrival:
                arrive(event.handle);
                break;
            case codec::kEventDeviceRemoval:
                remove(event.handle);
                break;
            case codec::kEventNewCaptureFile: {
                // The callbacks get a copy of the monitor's own, terminated.
                std::u16string name = event.fileName;
                raiseDeviceCallbacks(library_, NETTLEBEAM_CALLBACK_NEW_CAPTURE_FILE, event.handle,
                                     name.data());
                break;
            }
            case codec::kEventCaptureState: {
                NettlebeamApiCallbackValue_DiskDump value = codec::diskDumpCallbackValue(event);
                raiseDeviceCallbacks(library_, NETTLEBEAM_CALLBACK_DISK_DUMP_STATUS, event.handle,
                                     &value);
                break;
            }
            default:
                break;
        }
    }

    // A handle that is listed already is identified again: the device may have
    // come back as another (new firmware, say) while its removal and arrival
    // were missed. Unchanged, it keeps its record and gets no further
    // notification; changed, it leaves (device-gone) and arrives anew
    // (new-device). An incomplete identification leaves a listed record as it
    // is: a failed request tells nothing about the device.
    void arrive(int32_t handle) {
        std::vector<DeviceRecord> arrivals;
        if (std::optional<DeviceRecord> record = identifyArrival(handle))
            arrivals.push_back(std::move(*record));
        join(std::move(arrivals));
    }

    // The record a handle joins the list with; nothing when it stays as listed.
    std::optional<DeviceRecord> identifyArrival(int32_t handle) {
        std::optional<DeviceRecord> listed = listedRecord(handle);
        Identification identification =
            identifyDevice(handle, listed.has_value() && listed->mac.has_value());
        if (listed) {
            if (!identification.complete || !differs(identification, *listed)) return std::nullopt;
            remove(handle);
        }
        DeviceRecord record;
        record.handle = handle;
        record.type = identification.type;
        record.versions = identification.versions;
        return record;
    }

    // Appends the records under one lock, then announces each (new-device).
    void join(std::vector<DeviceRecord> arrivals) {
        std::vector<int32_t> joined;
        {
            std::lock_guard guard(library_.lock());
            for (DeviceRecord& record : arrivals) {
                if (library_.findLocked(record.handle) != nullptr) continue;
                joined.push_back(record.handle);
                library_.devicesLocked().push_back(std::move(record));
            }
        }
        for (int32_t handle : joined)
            GlobalCallbacks::instance().raise(NETTLEBEAM_CALLBACK_NEW_DEVICE, handle);
    }

    // A copy of the handle's record without its callbacks; nothing when the
    // handle is not listed. The whole record is copied, so a field added to
    // it cannot be dropped on the way.
    std::optional<DeviceRecord> listedRecord(int32_t handle) {
        std::lock_guard guard(library_.lock());
        const DeviceRecord* record = library_.findLocked(handle);
        if (record == nullptr) return std::nullopt;
        DeviceRecord copy = *record;
        copy.callbacks.clear();
        return copy;
    }

    // Device-gone first, while the record is still listed, then every record
    // with the handle goes together with its callback table.
    void remove(int32_t handle) {
        if (!library_.isListed(handle)) return;
        GlobalCallbacks::instance().raise(NETTLEBEAM_CALLBACK_DEVICE_GONE, handle);
        {
            std::lock_guard guard(library_.lock());
            std::erase_if(library_.devicesLocked(),
                          [handle](const DeviceRecord& record) { return record.handle == handle; });
        }
        forgetSharedMemoryCapture(handle);
    }

    // Records whose handle the driver no longer lists are removed as if a
    // removal event had come for them (it was lost while no wait was pending).
    void removeUnlisted(const std::vector<int32_t>& listed) {
        std::vector<int32_t> gone;
        {
            std::lock_guard guard(library_.lock());
            for (const auto& record : library_.devicesLocked())
                if (std::find(listed.begin(), listed.end(), record.handle) == listed.end() &&
                    std::find(gone.begin(), gone.end(), record.handle) == gone.end())
                    gone.push_back(record.handle);
        }
        for (int32_t handle : gone) remove(handle);
    }

    Library& library_;
    const MonitorControl& control_;
};

}  // namespace

void runMonitor(Library& library, std::shared_ptr<MonitorControl> control) {
    // Every request of the monitor, and of the callbacks it raises, ends once
    // the monitor is stopped: shutdown never waits for a driver that hangs.
    const CancelScope cancel(control->cancelFd());
    // Nothing may leave the thread (the process would end): after an
    // exception (out of memory, say) the monitor starts over, enumerating.
    while (control->running()) {
        try {
            Monitor(library, *control).run();
        } catch (...) {
            pauseUnlessStopped(*control, kEnumerationPauseMs);
        }
    }
}

}  // namespace nettlebeam::api
