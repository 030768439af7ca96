#include "simulated_backend.h"

#include "admin_protocol.h"
#include "device_options.h"
#include "sim/simulated_device.h"

namespace nettlebeam::driver {

DeviceBackend simulatedBackend() {
    DeviceBackend backend;
    backend.name = "simulated";
    backend.attachCode = admin::kAttach;
    backend.parse = [](const std::vector<std::string>& args) -> BackendOptionsResult {
        auto parsed = parseDeviceOptions(args);
        if (auto* error = std::get_if<std::string>(&parsed)) return std::move(*error);
        return encodeDeviceSettings(std::get<SimulatedDeviceSettings>(parsed));
    };
    backend.decode = [](const std::vector<uint8_t>& bytes) -> std::optional<ModelFactory> {
        auto settings = decodeDeviceSettings(bytes);
        if (!settings) return std::nullopt;
        return ModelFactory(
            [settings = std::move(*settings)](DeviceHandle handle, DeviceHost& host) {
                return makeSimulatedDevice(settings, handle, host);
            });
    };
    return backend;
}

}  // namespace nettlebeam::driver
