// nettlebeam_device_info: who the device is, as labels of a constant 1.
#include <cstdio>

#include "collectors.h"

namespace nettlebeam::exporter {
namespace {

const char* typeName(NettlebeamApiDeviceType type) {
    switch (type) {
        case DeviceTypeBadFirmware:
            return "bad_firmware";
        case DeviceTypeGigabitGen1:
        case DeviceTypeGigabitGen1B:
        case DeviceTypeGigabitGen2:
        case DeviceTypeGigabitGen3:
        case DeviceTypeGigabitGen3Poe:
        case DeviceTypeGigabitGen2Poe:
        case DeviceTypeGigabitGen2Gps:
        case DeviceTypeGigabitGen2GpsPoe:
        case DeviceTypeGigabitGen4:
            return "gigabit";
        case DeviceTypeTenGigabit:
        case DeviceTypeTenGigabitGps:
            return "ten_gigabit";
        case DeviceTypeFastEthernet:
            return "fast_ethernet";
        default:
            return "unknown";
    }
}

const char* modelName(NettlebeamApiDeviceType type) {
    switch (type) {
        case DeviceTypeBadFirmware:
            return "Bad firmware";
        case DeviceTypeGigabitGen1:
            return "Gigabit Gen1";
        case DeviceTypeGigabitGen1B:
            return "Gigabit Gen1B";
        case DeviceTypeGigabitGen2:
            return "Gigabit Gen2";
        case DeviceTypeGigabitGen3:
            return "Gigabit Gen3";
        case DeviceTypeGigabitGen3Poe:
            return "Gigabit Gen3 PoE";
        case DeviceTypeGigabitGen2Poe:
            return "Gigabit Gen2 PoE";
        case DeviceTypeGigabitGen2Gps:
            return "Gigabit Gen2 GPS";
        case DeviceTypeGigabitGen2GpsPoe:
            return "Gigabit Gen2 GPS PoE";
        case DeviceTypeTenGigabit:
            return "10 Gigabit";
        case DeviceTypeTenGigabitGps:
            return "10 Gigabit GPS";
        case DeviceTypeFastEthernet:
            return "Fast Ethernet";
        case DeviceTypeGigabitGen4:
            return "Gigabit Gen4";
        default:
            return "Unknown";
    }
}

std::string dotted(const uint8_t (&parts)[4]) {
    char text[20];
    std::snprintf(text, sizeof text, "%u.%u.%u.%u", parts[0], parts[1], parts[2], parts[3]);
    return text;
}

}  // namespace

void collectDeviceInfo(CollectContext& context) {
    const DeviceSample& sample = context.sample;
    Labels labels = context.deviceLabels();
    labels.emplace_back("type", typeName(sample.type));
    labels.emplace_back("model", modelName(sample.type));
    // Versions the device did not give are empty labels, not a missing device.
    const auto& versions = sample.versions;
    labels.emplace_back("sw_firmware", versions ? dotted(versions->swFirmwareVersion) : "");
    labels.emplace_back("hw_firmware", versions ? std::to_string(versions->hwFirmwareVersion) : "");
    labels.emplace_back("driver_version", versions ? dotted(versions->driverVersion) : "");
    context.gauge("nettlebeam_device_info", "Attached device; its identity in the labels.",
                  std::move(labels), 1);
}

}  // namespace nettlebeam::exporter
