#include "sizetext.h"

QString sizeText(quint64 value, const QString& unit) {
    constexpr quint64 kilo = quint64(1) << 10;
    constexpr quint64 mega = quint64(1) << 20;
    constexpr quint64 giga = quint64(1) << 30;
    const double bytes = double(value);
    QString number;
    if (value >= giga)
        number = QString::asprintf("%.2lf G", bytes / giga);
    else if (value >= mega)
        number = QString::asprintf("%.2lf M", bytes / mega);
    else if (value >= kilo)
        number = QString::asprintf("%.2lf K", bytes / kilo);
    else
        number = QString::asprintf("%llu ", static_cast<unsigned long long>(value));
    return number + unit;
}
