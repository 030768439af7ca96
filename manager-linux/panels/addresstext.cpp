#include "addresstext.h"

#include <QStringList>
#include <QVector>
#include <array>
#include <cstring>

namespace {

constexpr int kIpv6Bytes = 16;
constexpr int kGroupDigits = 4;

bool onlyWildcards(const QString& part, QChar wildcard) {
    if (part.isEmpty()) return false;
    for (QChar c : part) {
        if (c != wildcard) return false;
    }
    return true;
}

// A decimal byte: one to three digits, below 256.
std::optional<quint8> decimalByte(const QString& part) {
    if (part.isEmpty() || part.size() > 3) return std::nullopt;
    int value = 0;
    for (QChar c : part) {
        if (c < u'0' || c > u'9') return std::nullopt;
        value = value * 10 + (c.unicode() - u'0');
    }
    if (value > 255) return std::nullopt;
    return static_cast<quint8>(value);
}

struct Ipv6Bytes {
    std::array<quint8, kIpv6Bytes> address{};
    std::array<quint8, kIpv6Bytes> mask{};
};

// One group of up to four characters, right-aligned into bytes `at` and `at + 1`.
bool putGroup(const QString& group, int at, QChar wildcard, Ipv6Bytes& out) {
    if (group.size() > kGroupDigits) return false;
    quint16 value = 0;
    quint16 mask = 0xFFFF;
    const int padding = kGroupDigits - static_cast<int>(group.size());
    for (int i = 0; i < group.size(); ++i) {
        const int shift = 4 * (kGroupDigits - 1 - (padding + i));
        const QChar c = group.at(i);
        if (c == wildcard) {
            mask = static_cast<quint16>(mask & ~(0xF << shift));
            continue;
        }
        bool ok = false;
        const uint digit = QString(c).toUInt(&ok, 16);
        if (!ok) return false;
        value = static_cast<quint16>(value | (digit << shift));
    }
    out.address[at] = static_cast<quint8>(value >> 8);
    out.address[at + 1] = static_cast<quint8>(value);
    out.mask[at] = static_cast<quint8>(mask >> 8);
    out.mask[at + 1] = static_cast<quint8>(mask);
    return true;
}

QHostAddress ipv6From(const std::array<quint8, kIpv6Bytes>& bytes) {
    Q_IPV6ADDR raw;
    std::memcpy(raw.c, bytes.data(), kIpv6Bytes);
    return QHostAddress(raw);
}

}  // namespace

std::optional<WildcardAddress> parseIpv4Wildcards(const QString& text, QChar wildcard) {
    if (text.isEmpty()) return WildcardAddress{QHostAddress(quint32{0}), QHostAddress(quint32{0})};
    const QStringList parts = text.split(u'.');
    if (parts.size() != 4) return std::nullopt;
    quint32 address = 0;
    quint32 mask = 0;
    for (const QString& part : parts) {
        address <<= 8;
        mask <<= 8;
        if (onlyWildcards(part, wildcard)) continue;
        const std::optional<quint8> value = decimalByte(part);
        if (!value) return std::nullopt;
        address |= *value;
        mask |= 0xFF;
    }
    return WildcardAddress{QHostAddress(address), QHostAddress(mask)};
}

std::optional<WildcardAddress> parseIpv6Wildcards(const QString& text, QChar wildcard) {
    static const QString allowed = QStringLiteral("0123456789abcdefABCDEF:");
    for (QChar c : text) {
        if (c != wildcard && !allowed.contains(c)) return std::nullopt;
    }
    Ipv6Bytes bytes;
    if (text.isEmpty()) return WildcardAddress{ipv6From(bytes.address), ipv6From(bytes.mask)};
    bytes.mask.fill(0xFF);

    // The groups left of "::" (or of a final ':') fill from byte 0 up, the
    // groups right of it from byte 14 down.
    QString left = text;
    QString right;
    const qsizetype gap = text.indexOf(QStringLiteral("::"));
    if (gap >= 0) {
        if (text.indexOf(QStringLiteral("::"), gap + 1) >= 0) return std::nullopt;
        left = text.left(gap);
        right = text.mid(gap + 2);
    } else if (text.endsWith(u':')) {
        left.chop(1);
    }

    int leftEnd = 0;
    if (!left.isEmpty() || gap < 0) {
        const QStringList groups = left.split(u':');
        for (int i = 0; i < groups.size(); ++i) {
            const int at = 2 * i;
            if (at > kIpv6Bytes - 2 || !putGroup(groups[i], at, wildcard, bytes))
                return std::nullopt;
        }
        leftEnd = 2 * static_cast<int>(groups.size());
    }
    if (!right.isEmpty()) {
        const QStringList groups = right.split(u':');
        for (int i = 0; i < groups.size(); ++i) {
            const int at = kIpv6Bytes - 2 - 2 * i;
            const QString& group = groups[groups.size() - 1 - i];
            if (at < leftEnd || !putGroup(group, at, wildcard, bytes)) return std::nullopt;
        }
    }
    return WildcardAddress{ipv6From(bytes.address), ipv6From(bytes.mask)};
}

std::optional<QString> formatWildcardAddress(const QHostAddress& address, const QHostAddress& mask,
                                             QChar wildcard) {
    const QByteArray value = addressBytes(address);
    const QByteArray cared = addressBytes(mask);
    if (value.isEmpty() || value.size() != cared.size()) return std::nullopt;
    const bool ipv6 = value.size() == kIpv6Bytes;
    QString text;
    for (int i = 0; i < value.size(); ++i) {
        const auto byte = static_cast<quint8>(value[i]);
        const bool compared = static_cast<quint8>(cared[i]) == 0xFF;
        if (ipv6) {
            text += compared ? QStringLiteral("%1").arg(byte, 2, 16, QLatin1Char('0'))
                             : QString(2, wildcard);
            if (i % 2 == 1 && i != kIpv6Bytes - 1) text += u':';
        } else {
            if (i > 0) text += u'.';
            text += compared ? QString::number(byte) : QString(wildcard);
        }
    }
    return text;
}

QByteArray addressBytes(const QHostAddress& address) {
    if (address.protocol() == QAbstractSocket::IPv4Protocol) {
        const quint32 value = address.toIPv4Address();
        const char bytes[4] = {static_cast<char>(value >> 24), static_cast<char>(value >> 16),
                               static_cast<char>(value >> 8), static_cast<char>(value)};
        return QByteArray(bytes, sizeof bytes);
    }
    if (address.protocol() == QAbstractSocket::IPv6Protocol) {
        const Q_IPV6ADDR raw = address.toIPv6Address();
        return QByteArray(reinterpret_cast<const char*>(raw.c), kIpv6Bytes);
    }
    return {};
}

QHostAddress addressFromBytes(const QByteArray& bytes) {
    if (bytes.size() == 4) {
        quint32 value = 0;
        for (char byte : bytes) value = (value << 8) | static_cast<quint8>(byte);
        return QHostAddress(value);
    }
    if (bytes.size() == kIpv6Bytes) {
        std::array<quint8, kIpv6Bytes> raw{};
        std::memcpy(raw.data(), bytes.constData(), kIpv6Bytes);
        return ipv6From(raw);
    }
    return {};
}
