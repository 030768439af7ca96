// One-line helpers the panels share.
#pragma once

#include <QColor>
#include <QString>

class QAbstractButton;
class QWidget;
struct QMetaObject;

// Sets the checked state without emitting signals (the program, not the user,
// changes it); the button's previous signal blocking is restored.
void checkWithoutSignals(QAbstractButton* box, bool checked);

// Paints the widget's text (its foreground role) in `colour` in every colour
// group, on a copy of its palette.
void setTextColour(QWidget* widget, const QColor& colour);

// The key of `value` in the enumeration `enumeration` of `meta`, or an empty
// text when the enumeration or the key does not exist.
QString enumerationName(const QMetaObject& meta, const char* enumeration, int value);

// "~/x" becomes "<home>/x"; any other text is returned unchanged.
QString expandHome(const QString& path);
