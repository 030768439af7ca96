// What the hardware behind each identifier byte can do.
#pragma once

#include <cstdint>
#include <string>

#include "NettlebeamAPI.h"

namespace nettlebeam::driver::sim {

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
    uint32_t capabilities = 0;  // Cap* bits: the type's mask plus the firmware-dependent ones
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
