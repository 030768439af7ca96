#include "device_catalog.h"

#include "device_capabilities.h"

namespace nettlebeam::driver::sim {

namespace {

struct CatalogEntry {
    uint8_t id;
    uint32_t type;
    PortKind ports;
    bool timing;
    const char* name;
};

constexpr CatalogEntry kCatalog[] = {
    {0x4A, 1, PortKind::None, false, "Bad firmware"},
    {0x4B, 3, PortKind::GigabitBasic, false, "Gigabit G1"},
    {0x4C, 4, PortKind::GigabitBasic, false, "Gigabit G1B"},
    {0x4D, 5, PortKind::GigabitCopper, false, "Gigabit G2"},
    {0x4E, 6, PortKind::GigabitCopper, false, "Gigabit G3"},
    {0x13, 7, PortKind::GigabitCopper, false, "Gigabit G3 PoE"},
    {0x11, 8, PortKind::GigabitCopper, false, "Gigabit G2 PoE"},
    {0x10, 9, PortKind::GigabitCopper, true, "Gigabit G2 GPS"},
    {0x12, 10, PortKind::GigabitCopper, true, "Gigabit G2 GPS PoE"},
    {0x14, 12, PortKind::Transceiver, true, "TenGigabit GPS"},
    {0x50, 13, PortKind::FastEthernet, false, "FastEthernet"},
    {0x15, 14, PortKind::GigabitCopper, false, "Gigabit G4"},
};

constexpr uint8_t kTenGigabitId = 0x4F;

}  // namespace

DeviceKind describeHardware(uint8_t hardwareId, bool gps, uint32_t hwFirmwareVersion) {
    DeviceKind kind;
    if (hardwareId == kTenGigabitId) {
        kind.type = gps ? wire::kTenGigabitGpsType : wire::kTenGigabitType;
        kind.ports = PortKind::Transceiver;
        kind.gpsFitted = gps;
        kind.name = gps ? "TenGigabit GPS" : "TenGigabit";
    } else {
        kind.type = 2;
        kind.name = "Unknown";
        for (const auto& entry : kCatalog) {
            if (entry.id != hardwareId) continue;
            kind.type = entry.type;
            kind.ports = entry.ports;
            kind.gpsFitted = entry.timing;
            kind.name = entry.name;
        }
    }
    kind.capabilities = wire::deviceCapabilities(kind.type, hwFirmwareVersion);
    if (kind.ports == PortKind::Transceiver) kind.firmwareImages = 2;
    return kind;
}

}  // namespace nettlebeam::driver::sim
