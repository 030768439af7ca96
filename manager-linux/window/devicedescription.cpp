#include "devicedescription.h"

namespace {

// Speed codes 0 to 3; anything else has no speed text.
const char* const kSpeeds[] = {"10Mbps", "100Mbps", "1Gbps", "10Gbps"};

bool hasSpeed(int32_t code) {
    return code >= NETTLEBEAM_LINK_SPEED_10M && code <= NETTLEBEAM_LINK_SPEED_10G;
}

}  // namespace

QString DeviceDescription::modelName(NettlebeamApiDeviceType type) {
    switch (type) {
        case DeviceTypeGigabitGen1:
            return QStringLiteral("Nettlebeam Gigabit TAP");
        case DeviceTypeGigabitGen2:
            return QStringLiteral("Nettlebeam Gigabit TAP Gen 2");
        case DeviceTypeGigabitGen2Poe:
            return QStringLiteral("Nettlebeam Gigabit TAP Gen 2 PoE");
        case DeviceTypeGigabitGen2Gps:
            return QStringLiteral("Nettlebeam Gigabit TAP Gen 2 GPS");
        case DeviceTypeGigabitGen2GpsPoe:
            return QStringLiteral("Nettlebeam Gigabit TAP Gen 2 GPS PoE");
        case DeviceTypeGigabitGen3:
            return QStringLiteral("Nettlebeam Gigabit TAP Gen 3");
        case DeviceTypeGigabitGen3Poe:
            return QStringLiteral("Nettlebeam Gigabit TAP Gen 3 PoE");
        case DeviceTypeGigabitGen4:
            return QStringLiteral("Nettlebeam Gigabit TAP Gen 4");
        case DeviceTypeTenGigabit:
            return QStringLiteral("Nettlebeam 10 Gigabit TAP");
        case DeviceTypeTenGigabitGps:
            return QStringLiteral("Nettlebeam 10 Gigabit TAP GPS");
        case DeviceTypeFastEthernet:
            return QStringLiteral("Nettlebeam Fast Ethernet TAP");
        default:
            return QString();
    }
}

QString DeviceDescription::describe(NettlebeamApiDeviceType type,
                                    const NettlebeamApiVersions& versions, const uint8_t mac[6],
                                    uint8_t usbSpeed) {
    QString text;
    const QString model = modelName(type);
    if (type == DeviceTypeBadFirmware) {
        text = QStringLiteral("Bad firmware Nettlebeam\n");
    } else if (model.isEmpty()) {
        text = QStringLiteral("Unknown Nettlebeam\n");
    } else {
        const uint8_t* sw = versions.swFirmwareVersion;
        const uint8_t* driver = versions.driverVersion;
        text =
            model + QString::asprintf(
                        " Device Connected\nDriver Version : %u.%u.%u.%u\nSW Firmware Version : "
                        "%u.%u.%u.%u\nHW Firmware Version : %04u\nMAC Address : "
                        "%02x:%02x:%02x:%02x:%02x:%02x\n",
                        driver[0], driver[1], driver[2], driver[3], sw[0], sw[1], sw[2], sw[3],
                        versions.hwFirmwareVersion, mac[0], mac[1], mac[2], mac[3], mac[4], mac[5]);
    }
    return text + usbLine(usbSpeed);
}

QString DeviceDescription::usbLine(uint8_t usbSpeed) {
    switch (usbSpeed) {
        case NETTLEBEAM_USB_FULL_SPEED:
            return QStringLiteral("Usb : Full Speed\n");
        case NETTLEBEAM_USB_HIGH_SPEED:
            return QStringLiteral("Usb : High Speed\n");
        case NETTLEBEAM_USB_SUPER_SPEED:
            return QStringLiteral("Usb : Super Speed\n");
        default:
            return QString();
    }
}

QString DeviceDescription::portLinkText(const NettlebeamApiPortLink& port) {
    if (port.speed == NETTLEBEAM_LINK_SPEED_NO_LINK) return QStringLiteral("Down");
    if (!hasSpeed(port.speed)) return QStringLiteral("Unknown");
    return QString::fromLatin1(kSpeeds[port.speed]) +
           (port.halfDuplex ? QStringLiteral(" HDX") : QStringLiteral(" FDX"));
}

QString DeviceDescription::singleLinkText(const NettlebeamApiPortLink& port) {
    if (port.speed == NETTLEBEAM_LINK_SPEED_NO_LINK) return QStringLiteral("Link Down");
    if (!hasSpeed(port.speed)) return QStringLiteral("Link State Unknown");
    return QStringLiteral("Link Up ") + QString::fromLatin1(kSpeeds[port.speed]) +
           (port.halfDuplex ? QStringLiteral(" Half Duplex") : QStringLiteral(" Full Duplex"));
}

QString DeviceDescription::linkText(const NettlebeamApiLinkStatus& link,
                                    NettlebeamApiCapabilities caps, bool inlineMode) {
    // A record the library did not fill is all zeros, which would read as a
    // 10 Mbps link: a device with bad firmware answers no link status.
    if (link.linkValid == 0) return QStringLiteral("Link State Unknown");
    if ((caps & CapPerPortLinkStatus) && !inlineMode) {
        return portLinkText(link.ports[0]) + QStringLiteral(" / ") + portLinkText(link.ports[1]);
    }
    return singleLinkText(link.ports[0]);
}

QString DeviceDescription::moduleText(const NettlebeamApiLinkStatus& link) {
    auto presence = [](const NettlebeamApiSfpModule& module) {
        return module.present ? QStringLiteral("Module Present") : QStringLiteral("Module Absent");
    };
    return presence(link.sfp[0]) + QStringLiteral(" / ") + presence(link.sfp[1]);
}
