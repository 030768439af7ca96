#include "widgethelpers.h"

#include <QAbstractButton>
#include <QDir>
#include <QMetaEnum>
#include <QPalette>
#include <QWidget>

void checkWithoutSignals(QAbstractButton* box, bool checked) {
    if (!box) return;
    const bool wasBlocked = box->blockSignals(true);
    box->setChecked(checked);
    box->blockSignals(wasBlocked);
}

void setTextColour(QWidget* widget, const QColor& colour) {
    if (!widget) return;
    QPalette palette = widget->palette();
    const QBrush brush(colour, Qt::SolidPattern);
    for (QPalette::ColorGroup group : {QPalette::Active, QPalette::Inactive, QPalette::Disabled})
        palette.setBrush(group, widget->foregroundRole(), brush);
    widget->setPalette(palette);
}

QString enumerationName(const QMetaObject& meta, const char* enumeration, int value) {
    if (!enumeration) return {};
    const int index = meta.indexOfEnumerator(enumeration);
    if (index < 0) return {};
    return QString::fromLatin1(meta.enumerator(index).valueToKey(value));
}

QString expandHome(const QString& path) {
    if (!path.startsWith(QLatin1String("~/"))) return path;
    return QDir::homePath() + path.mid(1);
}
