#include "qtimespanspinbox.h"

#include <QStringList>
#include <algorithm>
#include <climits>
#include <optional>

namespace {

// A part made only of decimal digits that fits an int. Signs and spaces are
// refused: a duration part is never negative.
std::optional<int> partNumber(const QString& part) {
    if (part.isEmpty()) return std::nullopt;
    for (QChar c : part)
        if (c < QLatin1Char('0') || c > QLatin1Char('9')) return std::nullopt;
    bool ok = false;
    const int number = part.toInt(&ok);
    if (!ok) return std::nullopt;
    return number;
}

}  // namespace

QTimespanSpinBox::QTimespanSpinBox(QWidget* parent) : QSpinBox(parent) {}

QValidator::State QTimespanSpinBox::validate(QString& text, int&) const {
    const QStringList parts = text.split(QLatin1Char(':'), Qt::KeepEmptyParts);
    if (parts.size() > 3) return QValidator::Invalid;
    for (int i = 0; i < parts.size(); ++i) {
        if (parts[i].isEmpty()) continue;
        const std::optional<int> number = partNumber(parts[i]);
        if (!number) return QValidator::Invalid;
        if (i > 0 && *number >= 60) return QValidator::Invalid;
    }
    return QValidator::Acceptable;
}

int QTimespanSpinBox::valueFromText(const QString& text) const {
    const QStringList parts = text.split(QLatin1Char(':'), Qt::KeepEmptyParts);
    const qint64 unitSeconds[3] = {3600, 60, 1};
    qint64 seconds = 0;
    for (int i = 0; i < std::min(int(parts.size()), 3); ++i)
        seconds += partNumber(parts[i]).value_or(0) * unitSeconds[i];
    return int(std::min<qint64>(seconds, INT_MAX));
}

QString QTimespanSpinBox::textFromValue(int value) const {
    const qint64 magnitude = value < 0 ? -qint64(value) : value;
    const QChar zero(QLatin1Char('0'));
    return QStringLiteral("%1%2:%3:%4")
        .arg(value < 0 ? QStringLiteral("-") : QString())
        .arg(magnitude / 3600, 2, 10, zero)
        .arg((magnitude / 60) % 60, 2, 10, zero)
        .arg(magnitude % 60, 2, 10, zero);
}
