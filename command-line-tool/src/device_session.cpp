#include "device_session.h"

#include "arguments.h"

namespace beamctl {
namespace {

constexpr int kWaitAttempts = 50;
constexpr std::uint32_t kWaitStepMs = 100;

}  // namespace

bool initializeLibrary(std::FILE* out) {
    if (NettlebeamAPIInitialize() == 0) return true;
    std::fputs("Failed to initialize Nettlebeam API\n", out);
    return false;
}

void waitForDevice() {
    for (int attempt = 0; attempt < kWaitAttempts; ++attempt) {
        const DeviceList list = readDeviceList();
        if (list && list->count >= 1) return;
        NettlebeamApiSleepMs(kWaitStepMs);
    }
}

std::optional<NettlebeamApiDeviceHandle> deviceAt(std::optional<int> index) {
    waitForDevice();
    const DeviceList list = readDeviceList();
    if (!list || list->count <= 0 || list->first == nullptr) return std::nullopt;
    const int wanted = index.value_or(0);
    if (wanted < 0 || wanted >= list->count) return std::nullopt;
    const NettlebeamApiDevicesListEntry* entry = list->first;
    for (int position = 0; entry != nullptr && position < wanted; ++position) {
        entry = entry->next;
    }
    if (entry == nullptr) return std::nullopt;
    return handleOf(*entry);
}

std::optional<NettlebeamApiDeviceHandle> startDeviceCommand(std::FILE* out,
                                                            const arg_int* deviceOption) {
    if (!initializeLibrary(out)) return std::nullopt;
    const std::optional<int> index =
        present(deviceOption) ? std::optional<int>(valueOf(deviceOption)) : std::nullopt;
    const std::optional<NettlebeamApiDeviceHandle> handle = deviceAt(index);
    if (!handle) {
        std::fputs("Invalid Nettlebeam device selected\n", out);
        // The run ends here; the library is stopped so that its monitor thread
        // is not left running while the process exits.
        NettlebeamAPIUninitialize();
        return std::nullopt;
    }
    std::fputs("Nettlebeam detected\n", out);
    return handle;
}

}  // namespace beamctl
