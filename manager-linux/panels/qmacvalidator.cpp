#include "qmacvalidator.h"

#include <QStringList>

namespace {

bool isHexByte(const QString& part) {
    if (part.size() > 2) return false;
    for (QChar c : part) {
        if (!((c >= u'0' && c <= u'9') || (c >= u'a' && c <= u'f') || (c >= u'A' && c <= u'F')))
            return false;
    }
    return true;
}

}  // namespace

QMacValidator::QMacValidator(QObject* parent) : QValidator(parent) {}

QValidator::State QMacValidator::validate(QString& text, int& /*position*/) const {
    const QStringList parts = text.split(u':');
    if (parts.size() > 6) return Invalid;
    for (const QString& part : parts) {
        if (part.isEmpty() || part == QStringLiteral("*") || part == QStringLiteral("**")) continue;
        if (!isHexByte(part)) return Invalid;
    }
    return Acceptable;
}
