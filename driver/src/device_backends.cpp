#include "device_backends.h"

#include <algorithm>

#include "netif/netif_backend.h"
#include "simulated_backend.h"

namespace nettlebeam::driver {

const std::vector<DeviceBackend>& deviceBackends() {
    static const std::vector<DeviceBackend> backends{simulatedBackend(), interfaceBackend()};
    return backends;
}

const DeviceBackend* backendForAttachCode(uint32_t code) {
    for (const DeviceBackend& backend : deviceBackends())
        if (backend.attachCode == code) return &backend;
    return nullptr;
}

DeviceSpecResult parseDeviceSpec(const std::vector<std::string>& args,
                                 const std::vector<DeviceBackend>& backends) {
    const DeviceBackend* chosen = nullptr;
    for (const DeviceBackend& backend : backends) {
        const bool asked = backend.selector.empty() ? chosen == nullptr
                                                    : std::find(args.begin(), args.end(),
                                                                backend.selector) != args.end();
        if (!asked) continue;
        if (chosen != nullptr && !chosen->selector.empty())
            return chosen->selector + " and " + backend.selector + " exclude each other";
        chosen = &backend;
    }
    auto parsed = chosen->parse(args);
    if (auto* error = std::get_if<std::string>(&parsed)) return std::move(*error);
    return DeviceSpec{chosen, std::get<std::vector<uint8_t>>(std::move(parsed))};
}

}  // namespace nettlebeam::driver
