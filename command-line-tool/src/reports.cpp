#include "reports.h"

#include "json.h"
#include "text.h"

namespace beamctl {
namespace {

using ull = unsigned long long;

constexpr double kGiga = 1073741824.0;
constexpr double kMega = 1048576.0;
constexpr double kKilo = 1024.0;

const char* enabledText(std::int32_t flag) {
    return flag == 1 ? "Enabled" : "Disabled";
}

std::string portReport(char letter, const NettlebeamApiPortStatistics& port) {
    std::string text = format("Port %c\n", letter);
    const auto line = [&text](const char* label, std::uint64_t value) {
        text += format("  %-25s : %20llu\n", label, static_cast<ull>(value));
    };
    line("Less than 64bytes", port.lessThan64);
    line("Between 64 and 1518 bytes", port.from64To1518);
    line("More than 1518 bytes", port.moreThan1518);
    line("Collisions", port.collisions);
    line("CRC Errors", port.crcErrors);
    line("Jabbers", port.jabbers);
    line("Total Bytes", port.totalBytes);
    line("Total valid packets", port.totalValidPackets);
    line("Total invalid packets", port.totalInvalidPackets);
    line("HW dropped", port.hwDropped);
    return text;
}

std::string firstFormatReport(const NettlebeamApiStatistics& statistics) {
    const auto& counters = statistics.data.v1;
    std::string text = "\n";
    text += format("%-25s : %20llu\n", "Timestamp", static_cast<ull>(statistics.timestamp));
    text += format("%-25s : %20llu\n", "SW dropped", static_cast<ull>(statistics.swDropped));
    text += format("%-25s : %20llu ms\n", "Link Up", static_cast<ull>(counters.linkUpTime));
    text += format("%-25s : %20llu ms\n", "Link Down", static_cast<ull>(counters.linkDownTime));
    text += portReport('A', counters.portA);
    text += portReport('B', counters.portB);
    return text;
}

std::string secondFormatReport(const NettlebeamApiStatistics& statistics) {
    std::string text = "\n";
    text += format("%-10s : %20llu\n", "Timestamp", static_cast<ull>(statistics.timestamp));
    text += format("%-10s : %20llu\n", "SW dropped", static_cast<ull>(statistics.swDropped));
    int number = 1;
    for (const std::uint64_t value : statistics.data.v2.counters) {
        text += format("Counter %02d : %20llu\n", number++, static_cast<ull>(value));
    }
    return text;
}

}  // namespace

std::string sizeText(std::uint64_t bytes) {
    const double value = static_cast<double>(bytes);
    if (value > kGiga) return format("%.2lf GB", value / kGiga);
    if (value > kMega) return format("%.2lf MB", value / kMega);
    if (value > kKilo) return format("%.2lf KB", value / kKilo);
    return format("%.2lf B", value);
}

std::optional<const char*> modelName(std::uint32_t deviceType) {
    switch (deviceType) {
        case DeviceTypeGigabitGen1:
            return "Gigabit Gen1";
        case DeviceTypeGigabitGen2:
        case DeviceTypeGigabitGen2Poe:
        case DeviceTypeGigabitGen2Gps:
        case DeviceTypeGigabitGen2GpsPoe:
            return "Gigabit Gen2";
        case DeviceTypeGigabitGen3:
        case DeviceTypeGigabitGen3Poe:
            return "Gigabit Gen3";
        case DeviceTypeTenGigabit:
        case DeviceTypeTenGigabitGps:
            return "Ten-Gigabit";
        case DeviceTypeFastEthernet:
            return "Fast-Ethernet";
        default:
            return std::nullopt;
    }
}

std::string macLine(const std::uint8_t (&mac)[6]) {
    return format("%02x:%02x:%02x:%02x:%02x:%02x\n", mac[0], mac[1], mac[2], mac[3], mac[4],
                  mac[5]);
}

std::optional<std::string> statisticsReport(const NettlebeamApiStatistics& statistics) {
    switch (statistics.version) {
        case 1:
            return firstFormatReport(statistics);
        case 2:
            return secondFormatReport(statistics);
        default:
            return std::nullopt;
    }
}

std::string captureSummary(const NettlebeamApiDiskDumpStatus& status) {
    if (!status.enabled) return "Direct capture STOPPED\n";
    std::string text = "Direct capture STARTED\n";
    text += format("%-25s : ", "Cache used") + sizeText(status.cacheUsed) + "\n";
    text += format("%-25s : ", "Written") + sizeText(status.bytesWritten) + "\n";
    text += format("%-25s : ", "Dropped") + sizeText(status.bytesDropped) + "\n";
    text += format("%-25s : %llu\n", "Files Written", static_cast<ull>(status.filesWritten));
    return text;
}

std::string captureStatusReport(const NettlebeamApiDiskDumpStatus& status) {
    std::string text = format("Enabled : %d\n", status.enabled ? 1 : 0);
    text += format("Error : %d\n", status.error != 0 ? 1 : 0);
    text += format("Cache used : %llu\n", static_cast<ull>(status.cacheUsed));
    text += format("Maximum cache : %llu\n", static_cast<ull>(status.maxCache));
    text += format("Bytes Written : %llu\n", static_cast<ull>(status.bytesWritten));
    text += format("Files Written : %llu\n", static_cast<ull>(status.filesWritten));
    return text;
}

std::string dpiFilterReport(const NettlebeamApiDpiFilter& filter) {
    std::string text = "DPI Filter Configuration : \n";
    text += format("Status : %s\n", enabledText(filter.enabled));
    text += "Filter Data : ";
    for (int i = 0; i < 16; ++i) text += format("%02x", filter.pattern[i]);
    text += "\n";
    text += format("Filter Mask : 0x%08x\n", static_cast<unsigned>(filter.mask));
    return text;
}

std::string featuresReport(const NettlebeamApiDeviceFeatures& features,
                           std::uint32_t capabilities) {
    std::string text = "Features Configuration : \n";
    text += format("Transmit CRC errors : %s\n", enabledText(features.keepCrcErrors));
    text += format("Keep CRC32 field : %s\n", enabledText(features.keepCrc32));
    text += format("Disable port A : %s\n", enabledText(features.disablePortA));
    text += format("Disable port B : %s\n", enabledText(features.disablePortB));
    text += format("Packet slicing : %s %u bytes\n", enabledText(features.packetSlicing),
                   static_cast<unsigned>(features.slicingLength));
    if (capabilities & CapPortSpeedSelect) {
        text += format("Inline mode : %s\n", enabledText(features.inlineMode));
    } else {
        text += "Inline mode : Enabled (forced)\n";
    }
    if (capabilities & CapLoopback) {
        text += format("Loopback : %s\n", enabledText(features.loopback));
    } else {
        text += "Loopback : Disabled (forced)\n";
    }
    text += format("Timestamps in packets : %s\n", enabledText(features.timestamps));
    text += format("Synchronized timestamps : %s\n", enabledText(features.syncTimestamps));
    return text;
}

std::string featuresJson(const NettlebeamApiDeviceFeatures& features, std::uint32_t capabilities) {
    const bool spanPossible = (capabilities & CapPortSpeedSelect) != 0;
    const bool loopbackPossible = (capabilities & CapLoopback) != 0;
    JsonObject json;
    json.add("keepCrcErrors", features.keepCrcErrors == 1)
        .add("keepCrc32", features.keepCrc32 == 1)
        .add("disablePortA", features.disablePortA == 1)
        .add("disablePortB", features.disablePortB == 1)
        .add("packetSlicing", features.packetSlicing == 1)
        .add("slicingLength", static_cast<std::uint64_t>(features.slicingLength))
        .add("inlineMode", spanPossible ? features.inlineMode == 1 : true)
        .add("inlineModeForced", !spanPossible)
        .add("loopback", loopbackPossible ? features.loopback == 1 : false)
        .add("loopbackForced", !loopbackPossible)
        .add("timestamps", features.timestamps == 1)
        .add("syncTimestamps", features.syncTimestamps == 1);
    return json.text();
}

}  // namespace beamctl
