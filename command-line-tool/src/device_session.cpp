#include "device_session.h"

#include <functional>
#include <string>

#include "arguments.h"
#include "daemon_probe.h"
#include "device_choice.h"
#include "reasons.h"

namespace beamctl {
namespace {

constexpr int kWaitAttempts = 50;
constexpr std::uint32_t kWaitStepMs = 100;
constexpr int kGoneChecks = 3;

// Polls the list until `found` holds for it or the attempts run out.
void waitFor(const std::function<bool(const NettlebeamApiDevicesList&)>& found) {
    // Without a daemon no device can appear: say so at once rather than
    // after five silent seconds.
    if (!daemonAnswers(controlSocketPath())) return;
    for (int attempt = 0; attempt < kWaitAttempts; ++attempt) {
        const DeviceList list = readDeviceList();
        if (list && found(*list)) return;
        NettlebeamApiSleepMs(kWaitStepMs);
    }
}

std::optional<Mac> macOf(NettlebeamApiDeviceHandle handle) {
    Mac mac{};
    if (NettlebeamAPIGetDeviceMAC(handle, mac.data()) != 0) return std::nullopt;
    return mac;
}

std::optional<NettlebeamApiDeviceHandle> withMac(const NettlebeamApiDevicesList& list,
                                                 const Mac& wanted) {
    for (const NettlebeamApiDevicesListEntry* entry = list.first; entry != nullptr;
         entry = entry->next) {
        if (macOf(handleOf(*entry)) == wanted) return handleOf(*entry);
    }
    return std::nullopt;
}

std::optional<NettlebeamApiDeviceHandle> atPosition(const NettlebeamApiDevicesList& list,
                                                    long long wanted) {
    if (wanted < 0 || wanted >= list.count) return std::nullopt;
    const NettlebeamApiDevicesListEntry* entry = list.first;
    for (long long position = 0; entry != nullptr && position < wanted; ++position) {
        entry = entry->next;
    }
    if (entry == nullptr) return std::nullopt;
    return handleOf(*entry);
}

bool listed(NettlebeamApiDeviceHandle handle) {
    const DeviceList list = readDeviceList();
    if (!list) return false;
    for (const NettlebeamApiDevicesListEntry* entry = list->first; entry != nullptr;
         entry = entry->next) {
        if (handleOf(*entry) == handle) return true;
    }
    return false;
}

// Selects the device; on failure writes the reason to `err`.
std::optional<NettlebeamApiDeviceHandle> select(const DeviceChoice& choice, std::FILE* err) {
    if (choice.mac) {
        // A MAC waits for its own device: with several attached, the list
        // may still be filling when the first one shows.
        waitFor([&](const NettlebeamApiDevicesList& list) {
            return withMac(list, *choice.mac).has_value();
        });
    } else {
        waitForDevice();
    }
    const DeviceList list = readDeviceList();
    if (!list || list->count <= 0 || list->first == nullptr) {
        if (!reportMissingDaemon(err)) {
            std::fprintf(err, "beamctl: nettlebeamd on %s has no device attached\n",
                         controlSocketPath().c_str());
        }
        return std::nullopt;
    }
    if (choice.mac) {
        const auto handle = withMac(*list, *choice.mac);
        if (!handle) {
            std::fprintf(err, "beamctl: no device with MAC %s is attached (see `beamctl list`)\n",
                         macText(*choice.mac).c_str());
        }
        return handle;
    }
    const auto handle = atPosition(*list, choice.position.value_or(0));
    if (!handle) {
        std::fprintf(err,
                     "beamctl: no device at position %lld: %d listed, counting from 0 (see "
                     "`beamctl list`)\n",
                     choice.position.value_or(0), static_cast<int>(list->count));
    }
    return handle;
}

}  // namespace

bool initializeLibrary(std::FILE* out) {
    if (NettlebeamAPIInitialize() == 0) return true;
    std::fputs("Failed to initialize Nettlebeam API\n", out);
    return false;
}

void waitForDevice() {
    waitFor([](const NettlebeamApiDevicesList& list) { return list.count >= 1; });
}

bool reportMissingDaemon(std::FILE* err) {
    const std::string path = controlSocketPath();
    if (daemonAnswers(path)) return false;
    std::fprintf(err, "beamctl: %s\n", noDaemonReason(path).c_str());
    return true;
}

std::optional<NettlebeamApiDeviceHandle> startDeviceCommand(const CommandLine& line,
                                                            const arg_rex* deviceOption,
                                                            bool announce) {
    if (!initializeLibrary(line.out)) return std::nullopt;
    // The option layer let only the two forms through.
    const std::optional<DeviceChoice> choice = deviceChoiceOf(deviceOption);
    const std::optional<NettlebeamApiDeviceHandle> handle =
        choice ? select(*choice, line.err) : std::nullopt;
    if (!handle) {
        std::fputs("Invalid Nettlebeam device selected\n", line.out);
        // The run ends here; the library is stopped so that its monitor thread
        // is not left running while the process exits.
        NettlebeamAPIUninitialize();
        return std::nullopt;
    }
    if (announce) std::fputs("Nettlebeam detected\n", line.out);
    return handle;
}

void explainFailure(std::FILE* err, NettlebeamApiDeviceHandle handle, std::int32_t status) {
    // The library learns that a device left from the daemon's events, which
    // may arrive just after the request that failed because of it.
    bool gone = !listed(handle);
    for (int attempt = 0; !gone && attempt < kGoneChecks; ++attempt) {
        NettlebeamApiSleepMs(kWaitStepMs);
        gone = !listed(handle);
    }
    if (gone) {
        std::fputs("beamctl: the device left (it is no longer listed)\n", err);
        return;
    }
    std::fprintf(err, "beamctl: %s\n", refusalReason(status).c_str());
}

}  // namespace beamctl
