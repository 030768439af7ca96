#include "library_hammer.h"

#include <unistd.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <cstdlib>
#include <functional>
#include <iterator>
#include <map>
#include <mutex>
#include <random>
#include <thread>
#include <vector>

#include "NettlebeamAPI.h"

namespace nettlebeam::soak {
namespace {

using Clock = std::chrono::steady_clock;

struct DeviceState {
    bool gone = false;
    uint64_t generation = 0;  // bumps on every arrival and departure
    bool callbackRegistered = false;
};

// What this process's library has told about each handle.
struct DeviceBook {
    std::mutex lock;
    std::map<NettlebeamApiDeviceHandle, DeviceState> devices;
    Checks* checks = nullptr;
    HammerCounts* counts = nullptr;
};

DeviceBook book;

void onNewDevice(NettlebeamApiDeviceHandle handle, void*) {
    std::lock_guard guard(book.lock);
    auto& device = book.devices[handle];
    device.gone = false;
    ++device.generation;
    ++book.counts->arrivals;
}

void onDeviceGone(NettlebeamApiDeviceHandle handle, void*) {
    std::lock_guard guard(book.lock);
    auto& device = book.devices[handle];
    device.gone = true;
    ++device.generation;
    ++book.counts->departures;
}

void onDeviceEvent(NettlebeamApiDeviceHandle handle, void*, void*) {
    std::lock_guard guard(book.lock);
    auto found = book.devices.find(handle);
    if (found != book.devices.end() && found->second.gone)
        book.checks->fail("a callback fired for removed device " + std::to_string(handle));
}

struct Snapshot {
    bool gone = false;
    uint64_t generation = 0;
};

Snapshot snapshot(NettlebeamApiDeviceHandle handle) {
    std::lock_guard guard(book.lock);
    auto found = book.devices.find(handle);
    if (found == book.devices.end()) return {};
    return {found->second.gone, found->second.generation};
}

std::vector<NettlebeamApiDeviceHandle> listedHandles() {
    std::vector<NettlebeamApiDeviceHandle> handles;
    NettlebeamApiDevicesList* list = NettlebeamAPIGetDevicesList();
    if (list == nullptr) return handles;
    for (auto* entry = list->first; entry != nullptr; entry = entry->next)
        handles.push_back(static_cast<NettlebeamApiDeviceHandle>(entry->handle));
    NettlebeamApiDeviceListFree(list);
    return handles;
}

std::vector<NettlebeamApiDeviceHandle> goneHandles() {
    std::vector<NettlebeamApiDeviceHandle> handles;
    std::lock_guard guard(book.lock);
    for (const auto& [handle, device] : book.devices)
        if (device.gone) handles.push_back(handle);
    return handles;
}

// Registers a per-device callback on listed devices; ends the registrations
// of departed ones, checking that the library already ended them.
void tendRegistrations(const std::vector<NettlebeamApiDeviceHandle>& listed) {
    // The book's lock is never held across a library call: device callbacks
    // take it while the library holds its own lock.
    std::vector<NettlebeamApiDeviceHandle> toRegister;
    std::vector<NettlebeamApiDeviceHandle> toEnd;
    {
        std::lock_guard guard(book.lock);
        for (NettlebeamApiDeviceHandle handle : listed) {
            auto& device = book.devices[handle];
            if (!device.gone && !device.callbackRegistered) toRegister.push_back(handle);
        }
        for (auto& [handle, device] : book.devices) {
            if (!device.gone || !device.callbackRegistered) continue;
            device.callbackRegistered = false;
            toEnd.push_back(handle);
        }
    }
    for (NettlebeamApiDeviceHandle handle : toRegister) {
        if (NettlebeamAPIAddDeviceCallback(handle, NETTLEBEAM_CALLBACK_DISK_DUMP_STATUS,
                                           onDeviceEvent, nullptr) != 0)
            continue;
        std::lock_guard guard(book.lock);
        book.devices[handle].callbackRegistered = true;
    }
    for (NettlebeamApiDeviceHandle handle : toEnd) {
        // The device-gone callback runs while the library still lists the
        // device; its record (and registrations) go right after. Until then
        // the registration may rightly still be there: look again later.
        NettlebeamApiDeviceType type;
        if (NettlebeamAPIGetDeviceType(handle, &type) != NETTLEBEAM_STATUS_UNKNOWN_HANDLE) {
            std::lock_guard guard(book.lock);
            book.devices[handle].callbackRegistered = true;
            continue;
        }
        const int32_t removed = NettlebeamAPIRemoveDeviceCallback(
            handle, NETTLEBEAM_CALLBACK_DISK_DUMP_STATUS, onDeviceEvent);
        book.checks->expect(removed != 0, "the callback registration of removed device " +
                                              std::to_string(handle) + " outlived it");
    }
}

constexpr const char* kOperationNames[] = {
    "GetDeviceType",
    "GetDeviceMAC",
    "GetDeviceExtraInfo",
    "GetVersions",
    "GetHwFirmwaresDesc",
    "Get/SetDeviceFeatures",
    "SaveDeviceFeatures",
    "Get/SetDevicePortsSpeed",
    "RestartDevice or GetDeviceType",
    "GetLinkStatus",
    "GetStatistics",
    "Get/SetCounterV2",
    "Get/SetPacketsTypeFilter",
    "SavePacketsTypeFilter",
    "Get/SetDpiFilter",
    "SaveDpiFilter",
    "Get/SetPacketFilter",
    "SavePacketFilter",
    "GetTimingStatus",
    "SetTimingTime",
    "GPSOutputRead",
    "GPSOutputFlush",
    "DiskDumpSetConfig/Start",
    "DiskDumpStop",
    "DiskDumpGetStatus",
    "MemoryCaptureStart",
    "MemoryCaptureGet",
    "MemoryCaptureGetHeader",
    "MemoryCaptureStop",
    "FirmwareUpdateStart",
    "FirmwareUpdateGetProgress",
};

// The status an export gives for a handle that is no longer listed: -4,
// except for the packet-type filter's get and set, which ask for the
// capability first and, finding none for an unknown handle, answer -5.
int32_t removedDeviceStatus(const std::string& name) {
    return name == "Get/SetPacketsTypeFilter" ? NETTLEBEAM_STATUS_NOT_SUPPORTED
                                              : NETTLEBEAM_STATUS_UNKNOWN_HANDLE;
}

class Worker {
  public:
    Worker(const HammerSettings& settings, unsigned seed, int index)
        : random_(seed), captureBuffer_(NETTLEBEAM_MEMORY_CAPTURE_MIN_BUFFER) {
        const std::string name = settings.captureFolder + "/soak-" + std::to_string(getpid()) +
                                 "-" + std::to_string(index);
        captureName_.assign(name.begin(), name.end());
    }

    // One export (or a read and its write-back) on one handle: its status,
    // and the export's name in `name`.
    int32_t callOne(NettlebeamApiDeviceHandle h, const char*& name) {
        const auto& ops = operations();
        const size_t index = pick(ops.size());
        name = kOperationNames[index];
        return ops[index](*this, h);
    }

    size_t pick(size_t count) {
        return std::uniform_int_distribution<size_t>(0, count - 1)(random_);
    }

  private:
    using Operation = std::function<int32_t(Worker&, NettlebeamApiDeviceHandle)>;

    static const std::vector<Operation>& operations();

    std::mt19937 random_;
    std::vector<uint8_t> captureBuffer_;
    std::u16string captureName_;
};

const std::vector<Worker::Operation>& Worker::operations() {
    static const std::vector<Operation> ops = {
        [](Worker&, auto h) {
            NettlebeamApiDeviceType t;
            return NettlebeamAPIGetDeviceType(h, &t);
        },
        [](Worker&, auto h) {
            uint8_t mac[6];
            return NettlebeamAPIGetDeviceMAC(h, mac);
        },
        [](Worker&, auto h) {
            uint8_t speed;
            return NettlebeamAPIGetDeviceExtraInfo(h, &speed);
        },
        [](Worker&, auto h) {
            NettlebeamApiVersions v;
            return NettlebeamAPIGetVersions(h, &v);
        },
        [](Worker&, auto h) {
            NettlebeamApiHwFirmwaresDesc d;
            return NettlebeamAPIGetHwFirmwaresDesc(h, &d);
        },
        [](Worker&, auto h) {
            NettlebeamApiDeviceFeatures f{};
            const int32_t got = NettlebeamAPIGetDeviceFeatures(h, &f);
            return got != 0 ? got : NettlebeamAPISetDeviceFeatures(h, f);
        },
        [](Worker&, auto h) { return NettlebeamAPISaveDeviceFeatures(h); },
        [](Worker&, auto h) {
            NettlebeamApiPortsSpeed s{};
            const int32_t got = NettlebeamAPIGetDevicePortsSpeed(h, &s);
            return got != 0 ? got : NettlebeamAPISetDevicePortsSpeed(h, s);
        },
        [](Worker& w, auto h) {
            // Rare: the device leaves and comes back under the same handle.
            NettlebeamApiDeviceType t;
            return w.pick(100) == 0 ? NettlebeamAPIRestartDevice(h)
                                    : NettlebeamAPIGetDeviceType(h, &t);
        },
        [](Worker&, auto h) {
            NettlebeamApiLinkStatus s;
            return NettlebeamAPIGetLinkStatus(h, &s);
        },
        [](Worker&, auto h) {
            NettlebeamApiStatistics s;
            return NettlebeamAPIGetStatistics(h, &s);
        },
        [](Worker& w, auto h) {
            NettlebeamApiCounterV2 c{};
            const auto index = static_cast<int32_t>(w.pick(16));
            const int32_t got = NettlebeamAPIGetCounterV2(h, index, &c);
            c.index = index;
            return got != 0 ? got : NettlebeamAPISetCounterV2(h, c);
        },
        [](Worker&, auto h) {
            NettlebeamApiPacketsTypeFilter f{};
            const int32_t got = NettlebeamAPIGetPacketsTypeFilter(h, &f);
            return got != 0 ? got : NettlebeamAPISetPacketsTypeFilter(h, f);
        },
        [](Worker&, auto h) { return NettlebeamAPISavePacketsTypeFilter(h); },
        [](Worker&, auto h) {
            NettlebeamApiDpiFilter f{};
            const int32_t got = NettlebeamAPIGetDpiFilter(h, &f);
            return got != 0 ? got : NettlebeamAPISetDpiFilter(h, f);
        },
        [](Worker&, auto h) { return NettlebeamAPISaveDpiFilter(h); },
        [](Worker&, auto h) {
            NettlebeamApiPacketFilter f{};
            const int32_t got = NettlebeamAPIGetPacketFilter(h, &f);
            return got != 0 ? got : NettlebeamAPISetPacketFilter(h, f);
        },
        [](Worker&, auto h) { return NettlebeamAPISavePacketFilter(h); },
        [](Worker&, auto h) {
            NettlebeamApiTimingStatus s;
            return NettlebeamAPIGetTimingStatus(h, &s);
        },
        [](Worker&, auto h) {
            return NettlebeamAPISetTimingTime(h, NettlebeamApiTimingTime{5, 0, 0});
        },
        [](Worker&, auto h) {
            char text[512];
            int32_t length = 0;
            return NettlebeamAPIGPSOutputRead(h, text, sizeof text, &length);
        },
        [](Worker&, auto h) { return NettlebeamAPIGPSOutputFlush(h); },
        [](Worker& w, auto h) {
            NettlebeamApiDiskDumpConfig config{};
            config.loop = 1;
            config.fileName = reinterpret_cast<const NettlebeamApiChar16*>(w.captureName_.c_str());
            config.fileSize = 256 * 1024;  // looping over two small files bounds the disk used
            config.maxCache = 4 << 20;
            config.fileCount = 2;
            const int32_t set = NettlebeamAPIDiskDumpSetConfig(h, config);
            if (set != 0) return set;
            const int32_t started = NettlebeamAPIDiskDumpStart(h);
            if (started == 0) ++book.counts->captureStarts;
            return started;
        },
        [](Worker&, auto h) { return NettlebeamAPIDiskDumpStop(h); },
        [](Worker&, auto h) {
            NettlebeamApiDiskDumpStatus s;
            return NettlebeamAPIDiskDumpGetStatus(h, &s);
        },
        [](Worker&, auto h) {
            const int32_t started = NettlebeamAPIMemoryCaptureStart(h, 0);
            if (started == 0) ++book.counts->captureStarts;
            return started;
        },
        [](Worker& w, auto h) {
            auto size = static_cast<int32_t>(w.captureBuffer_.size());
            return NettlebeamAPIMemoryCaptureGet(h, w.captureBuffer_.data(), &size);
        },
        [](Worker& w, auto h) {
            auto size = static_cast<int32_t>(w.captureBuffer_.size());
            return NettlebeamAPIMemoryCaptureGetHeader(h, w.captureBuffer_.data(), &size);
        },
        [](Worker&, auto h) { return NettlebeamAPIMemoryCaptureStop(h); },
        [](Worker&, auto h) {
            const std::u16string missing = u"/nonexistent/soak-firmware.bin";
            return NettlebeamAPIFirmwareUpdateStart(
                h, reinterpret_cast<const NettlebeamApiChar16*>(missing.c_str()));
        },
        [](Worker&, auto h) {
            int32_t progress = 0;
            return NettlebeamAPIFirmwareUpdateGetProgress(h, &progress);
        },
    };
    if (ops.size() != std::size(kOperationNames)) std::abort();
    return ops;
}

void runWorker(const HammerSettings& settings, int index, Clock::time_point end, Checks& checks,
               HammerCounts& counts, Heartbeat& heartbeat) {
    Worker worker(settings, settings.seed * 7919 + static_cast<unsigned>(index), index);
    while (Clock::now() < end) {
        heartbeat.beat();
        const auto listed = listedHandles();
        if (index == 0) tendRegistrations(listed);
        const auto gone = goneHandles();
        const bool pickGone = !gone.empty() && (listed.empty() || worker.pick(4) == 0);
        if (!pickGone && listed.empty()) {
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
            continue;
        }
        const NettlebeamApiDeviceHandle handle =
            pickGone ? gone[worker.pick(gone.size())] : listed[worker.pick(listed.size())];
        const Snapshot before = snapshot(handle);
        // The device-gone callback runs while the record is still listed: a
        // departed device counts as removed once the list no longer has it.
        bool stillListed = false;
        if (before.gone) {
            const auto current = listedHandles();
            stillListed = std::find(current.begin(), current.end(), handle) != current.end();
        }
        const char* name = "";
        const int32_t status = worker.callOne(handle, name);
        const Snapshot after = snapshot(handle);
        ++counts.calls;
        if (before.gone && !stillListed && after.gone && before.generation == after.generation) {
            ++counts.removedChecks;
            const int32_t expected = removedDeviceStatus(name);
            checks.expect(status == expected, std::string(name) + " on removed device " +
                                                  std::to_string(handle) + " returned " +
                                                  std::to_string(status) + " instead of " +
                                                  std::to_string(expected));
        }
    }
}

}  // namespace

void hammerLibrary(const HammerSettings& settings, Checks& checks, HammerCounts& counts,
                   Heartbeat& heartbeat) {
    book.checks = &checks;
    book.counts = &counts;
    checks.expect(NettlebeamAPIInitialize() == 0, "the library did not initialise");
    checks.expect(NettlebeamAPIAddNewDeviceCallback(onNewDevice, nullptr) == 0,
                  "the new-device callback was refused");
    checks.expect(NettlebeamAPIAddDeviceGoneCallback(onDeviceGone, nullptr) == 0,
                  "the device-gone callback was refused");
    const auto end = Clock::now() + std::chrono::duration_cast<Clock::duration>(
                                        std::chrono::duration<double>(settings.seconds));
    std::vector<std::thread> threads;
    for (int i = 0; i < settings.threads; ++i)
        threads.emplace_back(runWorker, std::cref(settings), i, end, std::ref(checks),
                             std::ref(counts), std::ref(heartbeat));
    for (auto& thread : threads) thread.join();
    for (NettlebeamApiDeviceHandle handle : listedHandles()) {
        NettlebeamAPIDiskDumpStop(handle);
        NettlebeamAPIMemoryCaptureStop(handle);
    }
    NettlebeamAPIRemoveNewDeviceCallback(onNewDevice);
    NettlebeamAPIRemoveDeviceGoneCallback(onDeviceGone);
    checks.expect(NettlebeamAPIUninitialize() == 0, "the library did not uninitialise");
}

uint64_t cycleLibrary(double seconds, Checks& checks, Heartbeat& heartbeat) {
    const auto end = Clock::now() + std::chrono::duration_cast<Clock::duration>(
                                        std::chrono::duration<double>(seconds));
    uint64_t cycles = 0;
    std::mt19937 random(static_cast<unsigned>(getpid()));
    while (Clock::now() < end) {
        heartbeat.beat();
        checks.expect(NettlebeamAPIInitialize() == 0, "the library did not initialise again");
        std::this_thread::sleep_for(std::chrono::milliseconds(random() % 300));
        for (NettlebeamApiDeviceHandle handle : listedHandles()) {
            NettlebeamApiDeviceType type;
            NettlebeamAPIGetDeviceType(handle, &type);
        }
        checks.expect(NettlebeamAPIUninitialize() == 0, "the library did not uninitialise");
        ++cycles;
    }
    return cycles;
}

}  // namespace nettlebeam::soak
