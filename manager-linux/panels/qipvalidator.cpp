#include "qipvalidator.h"

#include <QRegularExpression>
#include <QStringList>

namespace {

bool isDecimalByte(const QString& part) {
    if (part.size() > 3) return false;
    for (QChar c : part) {
        if (c < u'0' || c > u'9') return false;
    }
    return part.toInt() < 256;
}

}  // namespace

QIpValidator::QIpValidator(QObject* parent, bool allowIpv4, bool allowIpv6)
    : QValidator(parent), allowIpv4_(allowIpv4), allowIpv6_(allowIpv6) {}

QValidator::State QIpValidator::validate(QString& text, int& /*position*/) const {
    if (text.isEmpty()) return Acceptable;
    if (allowIpv4_ && acceptsIpv4(text)) return Acceptable;
    if (allowIpv6_ && acceptsIpv6(text)) return Acceptable;
    return Invalid;
}

bool QIpValidator::acceptsIpv4(const QString& text) const {
    if (text.contains(u':')) return false;
    const QStringList parts = text.split(u'.');
    if (parts.size() > 4) return false;
    for (const QString& part : parts) {
        if (part.isEmpty() || part == QStringLiteral("*") || part == QStringLiteral("**")) continue;
        if (!isDecimalByte(part)) return false;
    }
    return true;
}

bool QIpValidator::acceptsIpv6(const QString& text) const {
    // Up to eight groups, each all wildcards, one or two digits then
    // wildcards, wildcards then one or two digits, or up to four digits.
    static const QRegularExpression groups(
        QStringLiteral(
            "^(([*]{1,4}|[a-f0-9]{1,2}[*]{0,2}|[*]{1,2}[a-f0-9]{1,2}|[a-f0-9]{0,4}){0,1}:)"
            "{0,7}([*]{1,4}|[a-f0-9]{1,2}[*]{0,2}|[*]{1,2}[a-f0-9]{1,2}|[a-f0-9]{0,4})"
            "{0,1}$"),
        QRegularExpression::CaseInsensitiveOption);
    return groups.match(text).hasMatch();
}
