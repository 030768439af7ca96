// Start and stop of the library, the exported device list and the utilities.
#include <cerrno>
#include <cstdlib>
#include <ctime>

#include "NettlebeamAPI.h"
#include "export_guard.h"
#include "library_state.h"

using nettlebeam::api::Library;

namespace api = nettlebeam::api;

extern "C" {

int32_t NettlebeamAPIInitialize(void) {
    return api::guardedExport([&]() -> int32_t { return Library::instance().initialize(); });
}

int32_t NettlebeamAPIUninitialize(void) {
    return api::guardedExport([&]() -> int32_t { return Library::instance().uninitialize(); });
}

NettlebeamApiDevicesList* NettlebeamAPIGetDevicesList(void) {
    return api::guardedExport<NettlebeamApiDevicesList*>(
        nullptr, [&]() -> NettlebeamApiDevicesList* {
            // Locked first: nothing is allocated when taking the lock fails.
            Library& library = Library::instance();
            std::lock_guard guard(library.lock());
            auto* list = static_cast<NettlebeamApiDevicesList*>(
                std::malloc(sizeof(NettlebeamApiDevicesList)));
            if (list == nullptr) return nullptr;
            list->first = nullptr;
            list->count = 0;
            NettlebeamApiDevicesListEntry** link = &list->first;
            for (const auto& record : library.devicesLocked()) {
                auto* entry = static_cast<NettlebeamApiDevicesListEntry*>(
                    std::malloc(sizeof(NettlebeamApiDevicesListEntry)));
                // Out of memory: hand back the entries made so far, counted correctly.
                if (entry == nullptr) break;
                entry->next = nullptr;
                entry->handle = record.handle;
                *link = entry;
                link = &entry->next;
                ++list->count;
            }
            return list;
        });
}

void NettlebeamApiDeviceListFree(NettlebeamApiDevicesList* list) {
    if (list == nullptr) return;
    NettlebeamApiDevicesListEntry* entry = list->first;
    while (entry != nullptr) {
        NettlebeamApiDevicesListEntry* next = entry->next;
        std::free(entry);
        entry = next;
    }
    std::free(list);
}

void NettlebeamApiSleepMs(uint32_t milliseconds) {
    timespec remaining{static_cast<time_t>(milliseconds / 1000),
                       static_cast<long>(milliseconds % 1000) * 1000000L};
    while (nanosleep(&remaining, &remaining) != 0 && errno == EINTR) {
    }
}

uint32_t NettlebeamAPIGetVersion(void) {
    return NETTLEBEAM_API_INTERFACE_VERSION;
}

}  // extern "C"
