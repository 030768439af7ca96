#include "textfit.h"

#include <QFontMetrics>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QStyle>
#include <QStyleOptionFrame>
#include <QTableWidget>
#include <algorithm>

namespace {

int widest(const QWidget* widget, const QStringList& texts) {
    int width = 0;
    for (const QString& text : texts) width = std::max(width, textWidth(widget, text));
    return width;
}

}  // namespace

int textWidth(const QWidget* widget, const QString& text) {
    return widget->fontMetrics().horizontalAdvance(text);
}

// What QLineEdit adds around its text: its text margins, the two pixels it
// keeps free on each side, the cursor and the frame the style draws.
void fitLineEdit(QLineEdit* edit, const QStringList& samples) {
    const QMargins margins = edit->textMargins();
    const int inner = widest(edit, samples) + margins.left() + margins.right() + 2 * 2 +
                      edit->style()->pixelMetric(QStyle::PM_TextCursorWidth, nullptr, edit);
    QStyleOptionFrame option;
    option.initFrom(edit);
    option.rect = edit->rect();
    option.lineWidth = edit->hasFrame()
                           ? edit->style()->pixelMetric(QStyle::PM_DefaultFrameWidth, &option, edit)
                           : 0;
    option.midLineWidth = 0;
    option.state |= QStyle::State_Sunken;
    option.features = QStyleOptionFrame::None;
    const QSize size = edit->style()->sizeFromContents(
        QStyle::CT_LineEdit, &option, QSize(inner, edit->fontMetrics().height()), edit);
    edit->setFixedWidth(size.width());
}

void fitLabel(QLabel* label, const QStringList& samples) {
    const int frame = 2 * label->frameWidth();
    const int indent = std::max(label->indent(), 0) + label->margin() * 2;
    label->setMinimumWidth(
        std::max(label->minimumWidth(), widest(label, samples) + frame + indent));
}

// A cell's text is drawn inside the focus frame margin plus one pixel on
// each side, and the grid line takes a pixel of the column.
void fitColumn(QTableWidget* table, int column, const QStringList& texts) {
    const int margin =
        2 * (table->style()->pixelMetric(QStyle::PM_FocusFrameHMargin, nullptr, table) + 1) +
        (table->showGrid() ? 1 : 0);
    const int header = table->horizontalHeader()->sectionSizeHint(column);
    table->setColumnWidth(column, std::max(header, widest(table, texts) + margin));
}
