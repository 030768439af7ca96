#include "countertext.h"

#include "counter_fields.h"

namespace records = nettlebeam::records;

namespace CounterText {

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
    const std::optional<char> comparison = records::sizeComparison(sizeMode);
    if (!comparison) return QStringLiteral("Any size");
    return QStringLiteral("%1 %2").arg(QLatin1Char(*comparison)).arg(size);
}

WildcardAddress ipv4Of(const NettlebeamApiCounterV2& counter) {
    return fromRecords(records::counterIpv4(counter));
}

WildcardAddress ipv6Of(const NettlebeamApiCounterV2& counter) {
    return fromRecords(records::counterIpv6(counter));
}

QString addressText(const NettlebeamApiCounterV2& counter) {
    return QString::fromStdString(records::counterAddressText(counter));
}

void storeAddress(NettlebeamApiCounterV2& counter, const WildcardAddress& parsed) {
    if (const auto address = toRecords(parsed)) records::storeCounterAddress(counter, *address);
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
