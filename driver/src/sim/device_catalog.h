// What the hardware behind each identifier byte can do.
#pragma once

#include <cstdint>
#include <string>

namespace nettlebeam::driver::sim {

namespace cap {
constexpr uint32_t kDeviceControl = 0x00000001;
constexpr uint32_t kPortSpeedSelect = 0x00000004;
constexpr uint32_t kTiming = 0x00000008;
constexpr uint32_t kFirmwareUpdate = 0x00000010;
constexpr uint32_t kPoe = 0x00000020;
constexpr uint32_t kSfp = 0x00000040;
constexpr uint32_t kPacketFilter = 0x00000080;
constexpr uint32_t kStatisticsV1 = 0x00000100;
constexpr uint32_t kStatisticsV2 = 0x00000200;
constexpr uint32_t kPerPortLinkStatus = 0x00000400;
constexpr uint32_t kLoopback = 0x00000800;
constexpr uint32_t kFastEthernetSpeed = 0x00002000;
constexpr uint32_t kCapture = 0x00008000;
constexpr uint32_t kPacketSlicing = 0x00010000;
constexpr uint32_t kFirmwareSelection = 0x00040000;
constexpr uint32_t kCaptureV2 = 0x00080000;
constexpr uint32_t kPacketsTypeFilter = 0x00200000;
}  // namespace cap

// The port hardware, which decides how the links are reported.
enum class PortKind {
    None,           // the firmware cannot drive the ports
    GigabitBasic,   // gigabit copper with one link status byte
    GigabitCopper,  // gigabit copper with a PHY per port
    FastEthernet,   // 10/100 copper
    Transceiver,    // two ten-gigabit transceiver cages
};

struct DeviceKind {
    uint32_t type = 0;          // the device type number the library derives
    uint32_t capabilities = 0;  // the type's mask plus the firmware-dependent bits
    PortKind ports = PortKind::None;
    bool gpsFitted = false;  // a GPS receiver answers the timing status
    int firmwareImages = 1;  // hardware firmware images the device can hold
    std::string name;        // model name for listings
};

// The device as its identifier byte, its GPS option and its hardware firmware
// version make it. Identifiers that no product uses give an unknown device
// that can only be identified and updated.
DeviceKind describeHardware(uint8_t hardwareId, bool gps, uint32_t hwFirmwareVersion);

}  // namespace nettlebeam::driver::sim
