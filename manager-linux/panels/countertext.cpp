#include "countertext.h"

#include <QByteArray>

namespace CounterText {

namespace {

constexpr int kIpv4Bytes = 4;
constexpr int kIpv6Bytes = 16;

// `count` record bytes in written order: the last one first.
QByteArray writtenOrder(const uint8_t* bytes, int count) {
    QByteArray result(count, '\0');
    for (int i = 0; i < count; ++i) result[i] = static_cast<char>(bytes[count - 1 - i]);
    return result;
}

WildcardAddress addressOf(const NettlebeamApiCounterV2& counter, int count) {
    return {addressFromBytes(writtenOrder(counter.ip, count)),
            addressFromBytes(writtenOrder(counter.ipMask, count))};
}

void storeReversed(const QByteArray& written, uint8_t* bytes) {
    const int count = written.size();
    for (int i = 0; i < count; ++i) bytes[count - 1 - i] = static_cast<uint8_t>(written[i]);
}

}  // namespace

QString tagColour(int32_t value) {
    switch (value) {
        case 0:
            return QStringLiteral("red");
        case 1:
            return QStringLiteral("lime");
        default:
            return QStringLiteral("silver");
    }
}

QString tagStyle(int32_t value) {
    return QStringLiteral("QLabel { color: %1 }").arg(tagColour(value));
}

QString sizeText(int32_t sizeMode, int32_t size) {
    switch (sizeMode) {
        case 0:
            return QStringLiteral("> %1").arg(size);
        case 1:
            return QStringLiteral("< %1").arg(size);
        case 2:
            return QStringLiteral("= %1").arg(size);
        default:
            return QStringLiteral("Any size");
    }
}

WildcardAddress ipv4Of(const NettlebeamApiCounterV2& counter) {
    return addressOf(counter, kIpv4Bytes);
}

WildcardAddress ipv6Of(const NettlebeamApiCounterV2& counter) {
    return addressOf(counter, kIpv6Bytes);
}

QString addressText(const NettlebeamApiCounterV2& counter) {
    const bool ipv4 = counter.isIPv4 == 1;
    const bool ipv6 = counter.isIPv6 == 1;
    if (ipv4 == ipv6) return {};
    const WildcardAddress address = ipv4 ? ipv4Of(counter) : ipv6Of(counter);
    return formatWildcardAddress(address.address, address.mask).value_or(QString());
}

void storeAddress(NettlebeamApiCounterV2& counter, const WildcardAddress& parsed) {
    const QByteArray address = addressBytes(parsed.address);
    const QByteArray mask = addressBytes(parsed.mask);
    if (address.size() != mask.size()) return;
    if (address.size() != kIpv4Bytes && address.size() != kIpv6Bytes) return;
    storeReversed(address, counter.ip);
    storeReversed(mask, counter.ipMask);
}

Qt::CheckState checkStateOf(int32_t triState) {
    switch (triState) {
        case 0:
            return Qt::Unchecked;
        case 1:
            return Qt::Checked;
        default:
            return Qt::PartiallyChecked;
    }
}

int32_t triStateOf(Qt::CheckState state) {
    switch (state) {
        case Qt::Unchecked:
            return 0;
        case Qt::Checked:
            return 1;
        default:
            return -1;
    }
}

int sizeIndexOf(int32_t sizeMode) {
    return sizeMode >= 0 && sizeMode <= 2 ? sizeMode + 1 : 0;
}

int32_t sizeModeOf(int index) {
    return index >= 1 && index <= 3 ? index - 1 : -1;
}

}  // namespace CounterText
