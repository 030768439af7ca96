#include "versionnumber.h"

#include <QStringList>

uint32_t VersionNumber::parse(const QString& text) {
    const QStringList parts = text.split('.');
    if (parts.size() != 4) return 0;
    uint32_t value = 0;
    for (int i = 0; i < 4; ++i) {
        // A part that is not a number reads as 0, as a malformed text does.
        const uint32_t part = parts[i].toUInt() & 0xFFu;
        value |= part << (8 * i);
    }
    return value;
}

QString VersionNumber::format(uint32_t value) {
    return QStringLiteral("%1.%2.%3.%4")
        .arg(component(value, 0))
        .arg(component(value, 1))
        .arg(component(value, 2))
        .arg(component(value, 3));
}

uint32_t VersionNumber::fromBytes(const uint8_t bytes[4]) {
    return static_cast<uint32_t>(bytes[0]) | static_cast<uint32_t>(bytes[1]) << 8 |
           static_cast<uint32_t>(bytes[2]) << 16 | static_cast<uint32_t>(bytes[3]) << 24;
}

int VersionNumber::compareRange(uint32_t value, uint32_t minimum, uint32_t maximum) {
    for (int i = 0; i < 4; ++i) {
        if (component(value, i) > component(maximum, i)) return 1;
        if (component(value, i) < component(minimum, i)) return -1;
    }
    return 0;
}

int VersionNumber::compare(uint32_t a, uint32_t b) {
    for (int i = 0; i < 4; ++i) {
        if (component(a, i) != component(b, i)) return component(a, i) < component(b, i) ? -1 : 1;
    }
    return 0;
}
