#include "firmwareoffer.h"

#include "devicedescription.h"

namespace {

QString softwareText(const uint8_t version[4]) {
    return QString::asprintf("%u.%u.%u.%u", version[0], version[1], version[2], version[3]);
}

QString hardwareText(uint32_t version) {
    return QString::asprintf("%04u", version);
}

}  // namespace

QString FirmwareOffer::text(NettlebeamApiDeviceType type, const QString& mac,
                            const QString& friendlyName, const NettlebeamApiVersions& from,
                            const std::array<uint8_t, 4>& swTo, std::optional<uint32_t> hwTo) {
    QString model = DeviceDescription::modelName(type);
    if (model.isEmpty()) model = QStringLiteral("Nettlebeam");
    QString text = QStringLiteral("There is a new firmware available for your Nettlebeam.\n");
    text += QStringLiteral("%1 %2 (%3)\n").arg(model, mac, friendlyName);
    text += QStringLiteral("SW Firmware Version : %1 to %2\n")
                .arg(softwareText(from.swFirmwareVersion), softwareText(swTo.data()));
    if (hwTo) {
        text += QStringLiteral("HW Firmware Version : %1 to %2\n")
                    .arg(hardwareText(from.hwFirmwareVersion), hardwareText(*hwTo));
    }
    return text + QStringLiteral("Do you want to update it now?");
}
