#include "addresstext.h"

#include <array>
#include <cstring>
#include <span>
#include <string>

#include "wildcard_address.h"

namespace records = nettlebeam::records;

namespace {

// The library reads bytes; a character outside ASCII is no digit, separator
// or wildcard, so it is refused there as it was here.
std::optional<char> asciiWildcard(QChar wildcard) {
    if (wildcard.unicode() > 0x7F) return std::nullopt;
    return static_cast<char>(wildcard.unicode());
}

std::optional<WildcardAddress> fromLibrary(const std::optional<records::WildcardAddress>& parsed) {
    if (!parsed) return std::nullopt;
    return fromRecords(*parsed);
}

std::span<const std::uint8_t> spanOf(const QByteArray& bytes) {
    return {reinterpret_cast<const std::uint8_t*>(bytes.constData()),
            static_cast<std::size_t>(bytes.size())};
}

QByteArray byteArrayOf(std::span<const std::uint8_t> bytes) {
    return QByteArray(reinterpret_cast<const char*>(bytes.data()),
                      static_cast<qsizetype>(bytes.size()));
}

}  // namespace

std::optional<WildcardAddress> parseIpv4Wildcards(const QString& text, QChar wildcard) {
    const std::optional<char> ascii = asciiWildcard(wildcard);
    if (!ascii) return std::nullopt;
    return fromLibrary(records::parseIpv4Wildcards(text.toStdString(), *ascii));
}

std::optional<WildcardAddress> parseIpv6Wildcards(const QString& text, QChar wildcard) {
    const std::optional<char> ascii = asciiWildcard(wildcard);
    if (!ascii) return std::nullopt;
    return fromLibrary(records::parseIpv6Wildcards(text.toStdString(), *ascii));
}

std::optional<QString> formatWildcardAddress(const QHostAddress& address, const QHostAddress& mask,
                                             QChar wildcard) {
    const std::optional<char> ascii = asciiWildcard(wildcard);
    if (!ascii) return std::nullopt;
    const QByteArray value = addressBytes(address);
    const QByteArray cared = addressBytes(mask);
    const std::optional<std::string> text =
        records::formatWildcardAddress(spanOf(value), spanOf(cared), *ascii);
    if (!text) return std::nullopt;
    return QString::fromStdString(*text);
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
        return QByteArray(reinterpret_cast<const char*>(raw.c), records::kIpv6Bytes);
    }
    return {};
}

QHostAddress addressFromBytes(const QByteArray& bytes) {
    if (bytes.size() == static_cast<qsizetype>(records::kIpv4Bytes)) {
        quint32 value = 0;
        for (char byte : bytes) value = (value << 8) | static_cast<quint8>(byte);
        return QHostAddress(value);
    }
    if (bytes.size() == static_cast<qsizetype>(records::kIpv6Bytes)) {
        Q_IPV6ADDR raw;
        std::memcpy(raw.c, bytes.constData(), records::kIpv6Bytes);
        return QHostAddress(raw);
    }
    return {};
}

WildcardAddress fromRecords(const records::WildcardAddress& address) {
    return {addressFromBytes(byteArrayOf(address.addressBytes())),
            addressFromBytes(byteArrayOf(address.maskBytes()))};
}

std::optional<records::WildcardAddress> toRecords(const WildcardAddress& address) {
    const QByteArray value = addressBytes(address.address);
    const QByteArray mask = addressBytes(address.mask);
    if (value.isEmpty() || value.size() != mask.size()) return std::nullopt;
    records::WildcardAddress converted;
    converted.ipv6 = value.size() == static_cast<qsizetype>(records::kIpv6Bytes);
    std::memcpy(converted.address.data(), value.constData(), converted.size());
    std::memcpy(converted.mask.data(), mask.constData(), converted.size());
    return converted;
}
