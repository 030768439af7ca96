// The simulated device: answers every request of the driver's request table
// the way the hardware of its type would.
#pragma once

#include <array>
#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "../device_model.h"
#include "../traffic/replay_source.h"
#include "transceiver_kind.h"

namespace nettlebeam::driver {

class ExternalPorts;

// Everything `nettlebeamd attach` and a fleet file can set for one device.
struct SimulatedDeviceSettings {
    uint8_t hardwareId = 0x4F;                  // the identifier byte the device answers
    bool gps = true;                            // a GPS module is fitted (timing-capable types)
    std::optional<std::array<uint8_t, 6>> mac;  // chosen from the handle when absent
    uint32_t hwFirmwareVersion = 300;
    std::array<uint8_t, 4> swFirmwareVersion{1, 0, 0, 0};  // first component first
    std::array<uint8_t, 4> driverVersion{0, 1, 3, 62};     // first component first
    uint8_t usbSpeed = 3;                                  // 1 full, 2 high, 3 super speed
    // The modules in the two cages of the ten-gigabit types.
    std::array<TransceiverKind, 2> cages{TransceiverKind::ShortReach,
                                         TransceiverKind::LongReachExternal};
    // The identifier a device with unusable firmware (0x4A) answers after a
    // firmware update has been programmed and the device restarted.
    uint8_t repairedHardwareId = 0x4D;
    // A trickle of broadcast frames on every port with a link.
    bool idleTraffic = true;
    // Real frames on the ports: generated (`--traffic`, see traffic_profile.h)
    // or replayed from a capture file (`--replay`); none when both are empty.
    std::string traffic;
    std::string replayFile;
    std::string replaySpeed = "1";  // a multiple of the file's pace, or "max"
    bool replayLoop = false;
    traffic::ReplayPorts replayPorts = traffic::ReplayPorts::A;
    // Ports whose frames and links come from outside the simulation (see
    // external_ports.h); empty for a simulated device.
    std::shared_ptr<ExternalPorts> externalPorts;
    // The device's clocks; empty means the host's steady and UTC clocks.
    // Tests set them to step time.
    std::function<std::chrono::steady_clock::time_point()> clock;
    std::function<std::chrono::system_clock::time_point()> utcClock;
};

std::unique_ptr<DeviceModel> makeSimulatedDevice(const SimulatedDeviceSettings& settings,
                                                 DeviceHandle handle, DeviceHost& host);

}  // namespace nettlebeam::driver
