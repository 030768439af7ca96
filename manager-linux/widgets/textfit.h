// Widths taken from the font a widget draws with instead of fixed pixels, so
// that texts stay whole at any screen resolution and font size.
#pragma once

#include <QStringList>

class QLabel;
class QLineEdit;
class QTableWidget;
class QWidget;

// The width `widget`'s font needs for `text`.
int textWidth(const QWidget* widget, const QString& text);

// Gives `edit` the width that shows the widest of `samples` whole with the
// cursor after it.
void fitLineEdit(QLineEdit* edit, const QStringList& samples);

// Gives `label` at least the width that shows each of `samples` whole.
void fitLabel(QLabel* label, const QStringList& samples);

// Makes column `column` of `table` as wide as its header and the widest of
// `texts` in one of its cells need.
void fitColumn(QTableWidget* table, int column, const QStringList& texts);
