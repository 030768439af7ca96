#include "deviceicon.h"

namespace {

// The artwork families: every type of a family looks the same.
enum class Family { Disconnected, Warning, Gigabit, GigabitGen2, TenGigabit, TenGigabitGps, Fast };

Family familyOf(NettlebeamApiDeviceType type) {
    switch (type) {
        case DeviceTypeNone:
            return Family::Disconnected;
        case DeviceTypeGigabitGen1:
        case DeviceTypeGigabitGen1B:
        case DeviceTypeGigabitGen3:
        case DeviceTypeGigabitGen3Poe:
        case DeviceTypeGigabitGen4:
            return Family::Gigabit;
        case DeviceTypeGigabitGen2:
        case DeviceTypeGigabitGen2Poe:
        case DeviceTypeGigabitGen2Gps:
        case DeviceTypeGigabitGen2GpsPoe:
            return Family::GigabitGen2;
        case DeviceTypeTenGigabit:
            return Family::TenGigabit;
        case DeviceTypeTenGigabitGps:
            return Family::TenGigabitGps;
        case DeviceTypeFastEthernet:
            return Family::Fast;
        default:  // bad firmware, unknown, and anything newer than this program
            return Family::Warning;
    }
}

// The model families have a separate small icon drawn for the selector; the
// disconnected and warning images serve at both sizes.
QString modelName(Family family) {
    switch (family) {
        case Family::Gigabit:
            return QStringLiteral("gigabit");
        case Family::GigabitGen2:
            return QStringLiteral("gigabit-gen2");
        case Family::TenGigabit:
            return QStringLiteral("ten-gigabit");
        case Family::TenGigabitGps:
            return QStringLiteral("ten-gigabit-gps");
        case Family::Fast:
            return QStringLiteral("fast-ethernet");
        default:
            return {};
    }
}

QString commonImage(Family family) {
    return family == Family::Disconnected ? QStringLiteral(":/images/disconnected.png")
                                          : QStringLiteral(":/images/warning.png");
}

}  // namespace

QString deviceIconPath(NettlebeamApiDeviceType type) {
    const QString model = modelName(familyOf(type));
    if (model.isEmpty()) return commonImage(familyOf(type));
    return QStringLiteral(":/images/icon-%1.png").arg(model);
}

QIcon deviceIcon(NettlebeamApiDeviceType type) {
    const QString path = deviceIconPath(type);
    return path.isEmpty() ? QIcon() : QIcon(path);
}

QString deviceImagePath(NettlebeamApiDeviceType type) {
    const QString model = modelName(familyOf(type));
    if (model.isEmpty()) return commonImage(familyOf(type));
    return QStringLiteral(":/images/model-%1.png").arg(model);
}
