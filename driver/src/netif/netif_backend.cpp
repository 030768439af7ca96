#include "netif_backend.h"

#include "../admin_protocol.h"
#include "../device_options.h"
#include "../sim/simulated_device.h"
#include "interface_ports.h"

namespace nettlebeam::driver {

namespace {

// The types a device takes from its interfaces' speed.
constexpr unsigned kTenGigabitType = 11;
constexpr unsigned kGigabitType = 14;
constexpr unsigned kGpsTenGigabitType = 12;

std::unique_ptr<DeviceModel> makeInterfaceDevice(const netif::NetifSettings& settings,
                                                 DeviceHandle handle, DeviceHost& host) {
    auto ports = std::make_shared<netif::InterfacePorts>(settings, handle);
    const unsigned type = settings.type != 0              ? settings.type
                          : ports->fastestMbit() >= 10000 ? kTenGigabitType
                                                          : kGigabitType;
    SimulatedDeviceSettings device;
    device.hardwareId = *hardwareIdForType(type);
    device.gps = type == kGpsTenGigabitType;
    // The interface's address keeps the saved settings with the interface.
    device.mac = settings.mac.value_or(ports->portAMac());
    device.cages = {TransceiverKind::Empty, TransceiverKind::Empty};
    device.idleTraffic = false;
    device.externalPorts = std::move(ports);
    return makeSimulatedDevice(device, handle, host);
}

}  // namespace

DeviceBackend interfaceBackend() {
    DeviceBackend backend;
    backend.name = "interface";
    backend.attachCode = admin::kAttachInterfaces;
    backend.selector = "--interfaces";
    backend.parse = [](const std::vector<std::string>& args) -> BackendOptionsResult {
        auto parsed = netif::parseNetifOptions(args);
        if (auto* error = std::get_if<std::string>(&parsed)) return std::move(*error);
        return netif::encodeNetifSettings(std::get<netif::NetifSettings>(parsed));
    };
    backend.decode = [](const std::vector<uint8_t>& bytes) -> std::optional<ModelFactory> {
        auto settings = netif::decodeNetifSettings(bytes);
        if (!settings) return std::nullopt;
        return ModelFactory(
            [settings = std::move(*settings)](DeviceHandle handle, DeviceHost& host) {
                return makeInterfaceDevice(settings, handle, host);
            });
    };
    return backend;
}

}  // namespace nettlebeam::driver
