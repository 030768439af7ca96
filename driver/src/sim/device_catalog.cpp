#include "device_catalog.h"

namespace nettlebeam::driver::sim {

namespace {

struct CatalogEntry {
    uint8_t id;
    uint32_t type;
    uint32_t mask;
    PortKind ports;
    bool timing;
    const char* name;
};

constexpr CatalogEntry kCatalog[] = {
    {0x4A, 1, 0x00000010, PortKind::None, false, "Bad firmware"},
    {0x4B, 3, 0x00008113, PortKind::GigabitBasic, false, "Gigabit G1"},
    {0x4C, 4, 0x00008111, PortKind::GigabitBasic, false, "Gigabit G1B"},
    {0x4D, 5, 0x0000C517, PortKind::GigabitCopper, false, "Gigabit G2"},
    {0x4E, 6, 0x0000C517, PortKind::GigabitCopper, false, "Gigabit G3"},
    {0x13, 7, 0x0000C537, PortKind::GigabitCopper, false, "Gigabit G3 PoE"},
    {0x11, 8, 0x0000C537, PortKind::GigabitCopper, false, "Gigabit G2 PoE"},
    {0x10, 9, 0x0000C51F, PortKind::GigabitCopper, true, "Gigabit G2 GPS"},
    {0x12, 10, 0x0000C53F, PortKind::GigabitCopper, true, "Gigabit G2 GPS PoE"},
    {0x14, 12, 0x00058ADF, PortKind::Transceiver, true, "TenGigabit GPS"},
    {0x50, 13, 0x0000A113, PortKind::FastEthernet, false, "FastEthernet"},
    {0x15, 14, 0x00028517, PortKind::GigabitCopper, false, "Gigabit G4"},
};

constexpr uint8_t kTenGigabitId = 0x4F;

}  // namespace

DeviceKind describeHardware(uint8_t hardwareId, bool gps, uint32_t hwFirmwareVersion) {
    DeviceKind kind;
    if (hardwareId == kTenGigabitId) {
        kind.type = gps ? 12 : 11;
        kind.capabilities = gps ? 0x00058ADF : 0x00058AD7;
        kind.ports = PortKind::Transceiver;
        kind.gpsFitted = gps;
        kind.name = gps ? "TenGigabit GPS" : "TenGigabit";
    } else {
        kind.type = 2;
        kind.capabilities = CapFirmwareUpdate;
        kind.name = "Unknown";
        for (const auto& entry : kCatalog) {
            if (entry.id != hardwareId) continue;
            kind.type = entry.type;
            kind.capabilities = entry.mask;
            kind.ports = entry.ports;
            kind.gpsFitted = entry.timing;
            kind.name = entry.name;
        }
    }
    if (kind.type >= 3) {
        if ((kind.type == 11 || kind.type == 12) && hwFirmwareVersion >= 220)
            kind.capabilities |= CapPacketsTypeFilter;
        if (hwFirmwareVersion >= 300) kind.capabilities |= CapCaptureV2;
    }
    if (kind.ports == PortKind::Transceiver) kind.firmwareImages = 2;
    return kind;
}

}  // namespace nettlebeam::driver::sim
