#include "filtercontrol.h"

#include <QKeyEvent>
#include <QLineEdit>
#include <QStringList>
#include <algorithm>
#include <cstring>
#include <optional>

#include "ui_filtercontrol.h"

namespace {

constexpr char kWildcardByte = '*';
// The same marking as the header filter's fields.
const QString kInvalidStyle = QStringLiteral("color: red");
const QString kNormalStyle = QStringLiteral("QLabel { }");

uint16_t bitOf(int byte) {
    return static_cast<uint16_t>(1u << byte);
}

// The lowercase digit of a hexadecimal key, or nothing for any other key.
std::optional<QChar> hexDigit(int key) {
    if (key >= Qt::Key_0 && key <= Qt::Key_9) return QChar(u'0' + (key - Qt::Key_0));
    if (key >= Qt::Key_A && key <= Qt::Key_F) return QChar(u'a' + (key - Qt::Key_A));
    return std::nullopt;
}

}  // namespace

FilterControl::FilterControl(QWidget* parent)
    : QWidget(parent), ui_(std::make_unique<Ui::FilterControl>()) {
    ui_->setupUi(this);
    for (QLineEdit* edit : {ui_->HexBox, ui_->ClearBox}) {
        edit->installEventFilter(this);
        edit->setDragEnabled(false);
        edit->setAcceptDrops(false);
        connect(edit, &QLineEdit::textEdited, this, &FilterControl::restoreTexts);
    }
    hex_ = hexText(pattern_, careMask_);
    restoreTexts();
}

FilterControl::~FilterControl() = default;

bool FilterControl::setPattern(const NettlebeamApiDpiFilter& filter, int count) {
    std::memset(pattern_, 0, sizeof pattern_);
    std::memcpy(pattern_, filter.pattern,
                static_cast<size_t>(std::clamp(count, 0, kPatternLength)));
    careMask_ = static_cast<uint16_t>(filter.mask & 0xFFFFu);
    hex_ = hexText(pattern_, careMask_);
    restoreTexts();
    return true;
}

int FilterControl::fillPattern(NettlebeamApiDpiFilter* filter) {
    if (filter == nullptr) return -1;
    std::memcpy(filter->pattern, pattern_, sizeof pattern_);
    filter->mask = careMask_;
    const bool halfTyped = hasHalfTypedByte();
    ui_->HexBox->setStyleSheet(halfTyped ? kInvalidStyle : kNormalStyle);
    return halfTyped ? -1 : 0;
}

bool FilterControl::hasHalfTypedByte() const {
    for (int i = 0; i < kPatternLength; ++i) {
        if ((careMask_ & bitOf(i)) != 0 && hex_.mid(3 * i, 2).contains(u'*')) return true;
    }
    return false;
}

QString FilterControl::hexText(const uint8_t* pattern, uint16_t careMask) {
    QStringList bytes;
    for (int i = 0; i < kPatternLength; ++i) {
        bytes << ((careMask & bitOf(i)) != 0
                      ? QStringLiteral("%1").arg(pattern[i], 2, 16, QLatin1Char('0'))
                      : QStringLiteral("**"));
    }
    return bytes.join(u' ');
}

QString FilterControl::plainText(const uint8_t* pattern, uint16_t careMask) {
    QString text;
    for (int i = 0; i < kPatternLength; ++i) {
        const QChar c(pattern[i]);
        text += (careMask & bitOf(i)) == 0 ? QChar(u'*') : (c.isPrint() ? c : QChar(u'.'));
    }
    return text;
}

bool FilterControl::isEditingKey(const QKeyEvent& key) {
    if (key.key() == Qt::Key_Backspace || key.key() == Qt::Key_Delete) return true;
    return !key.text().isEmpty() && key.text().at(0).isPrint();
}

bool FilterControl::eventFilter(QObject* watched, QEvent* event) {
    if (watched != ui_->HexBox && watched != ui_->ClearBox)
        return QWidget::eventFilter(watched, event);
    switch (event->type()) {
        case QEvent::ShortcutOverride:
            return true;
        case QEvent::KeyPress:
            return isEditingKey(*static_cast<QKeyEvent*>(event));
        case QEvent::KeyRelease: {
            const auto& key = *static_cast<QKeyEvent*>(event);
            if (!isEditingKey(key)) return false;
            auto* edit = static_cast<QLineEdit*>(watched);
            const int position =
                edit->hasSelectedText() ? edit->selectionStart() : edit->cursorPosition();
            if (edit == ui_->HexBox) {
                editHex(key, position);
            } else {
                editPlain(key, position);
            }
            return true;
        }
        default:
            return QWidget::eventFilter(watched, event);
    }
}

void FilterControl::editHex(const QKeyEvent& key, int position) {
    if (position < 0 || position >= kHexTextLength) return;
    QString text = hex_;
    int cursor = 0;
    if (key.key() == Qt::Key_Backspace) {
        if (position == 0) return;
        // At a byte's first digit the byte before it, else the byte the cursor is in.
        const int byte = position % 3 == 0 ? position / 3 - 1 : position / 3;
        text.replace(3 * byte, 2, QStringLiteral("**"));
        careMask_ &= static_cast<uint16_t>(~bitOf(byte));
        cursor = 3 * byte;
    } else if (key.key() == Qt::Key_Delete) {
        // On a separator, the byte after it, as a digit typed there would be.
        const int byte = position % 3 == 2 ? position / 3 + 1 : position / 3;
        text.replace(3 * byte, 2, QStringLiteral("**"));
        careMask_ &= static_cast<uint16_t>(~bitOf(byte));
        cursor = std::min(3 * (byte + 1), kHexTextLength);
    } else if (const std::optional<QChar> digit = hexDigit(key.key())) {
        const int at = position % 3 == 2 ? position + 1 : position;
        text[at] = *digit;
        careMask_ |= bitOf(at / 3);
        cursor = std::min(at % 3 == 0 ? at + 1 : at + 2, kHexTextLength);
    } else {
        return;  // other printable keys do nothing here
    }
    hex_ = text;
    patternFromHex();
    showHex(hex_, cursor);
    showPlain(ui_->ClearBox->cursorPosition());
    emit signal_filterChanged();
}

void FilterControl::editPlain(const QKeyEvent& key, int position) {
    if (position < 0 || position >= kPatternLength) return;
    int cursor = 0;
    if (key.key() == Qt::Key_Backspace) {
        if (position == 0) return;
        pattern_[position - 1] = kWildcardByte;
        careMask_ &= static_cast<uint16_t>(~bitOf(position - 1));
        cursor = position - 1;
    } else if (key.key() == Qt::Key_Delete) {
        pattern_[position] = kWildcardByte;
        careMask_ &= static_cast<uint16_t>(~bitOf(position));
        cursor = position + 1;
    } else {
        const QChar typed = key.text().at(0);
        if (typed.unicode() > 0xFF) return;  // one byte per character: Latin-1 only
        pattern_[position] = static_cast<uint8_t>(typed.unicode());
        careMask_ |= bitOf(position);
        cursor = position + 1;
    }
    hex_ = hexText(pattern_, careMask_);
    showHex(hex_, ui_->HexBox->cursorPosition());
    showPlain(cursor);
    emit signal_filterChanged();
}

void FilterControl::patternFromHex() {
    for (int i = 0; i < kPatternLength; ++i) {
        bool converted = false;
        const uint value = hex_.mid(3 * i, 2).toUInt(&converted, 16);
        pattern_[i] = converted ? static_cast<uint8_t>(value) : 0;
    }
}

void FilterControl::showHex(const QString& text, int cursor) {
    ui_->HexBox->setText(text);
    ui_->HexBox->setCursorPosition(cursor);
}

void FilterControl::showPlain(int cursor) {
    ui_->ClearBox->setText(plainText(pattern_, careMask_));
    ui_->ClearBox->setCursorPosition(cursor);
}

void FilterControl::restoreTexts() {
    showHex(hex_, ui_->HexBox->cursorPosition());
    showPlain(ui_->ClearBox->cursorPosition());
}
