// Editor of the payload pattern (DPI) filter: sixteen bytes, each a value to
// match or a wildcard, shown side by side as hexadecimal ("47 45 ** ...") and
// as characters ("GE*..."). Both views are edited key by key: the edits
// never see a printable key, Backspace or Delete; the editor applies the key
// itself when it is released and rewrites both views.
#pragma once

#include <QString>
#include <QWidget>
#include <cstdint>
#include <memory>

#include "NettlebeamAPI.h"

namespace Ui {
class FilterControl;
}
class QKeyEvent;
class QLineEdit;

class FilterControl : public QWidget {
    Q_OBJECT
  public:
    static constexpr int kPatternLength = 16;
    // "xx xx ... xx": the position after the last digit.
    static constexpr int kHexTextLength = kPatternLength * 3 - 1;

    explicit FilterControl(QWidget* parent = nullptr);
    ~FilterControl() override;

    // Takes the first `count` pattern bytes (at most 16; the rest become 0) and
    // the low 16 bits of the care mask, and rewrites both views.
    bool setPattern(const NettlebeamApiDpiFilter& filter, int count);
    // Writes the sixteen pattern bytes and the care mask; `enabled` is left
    // alone. 0 on success; -1 while a byte is only half typed ("5*"), which
    // no pattern byte can express: the hexadecimal view is then painted red
    // and the record must not be sent. The next fill clears the marking.
    int fillPattern(NettlebeamApiDpiFilter* filter);

    // The two views as the program writes them.
    static QString hexText(const uint8_t* pattern, uint16_t careMask);
    static QString plainText(const uint8_t* pattern, uint16_t careMask);

  signals:
    // The user edited the pattern.
    void signal_filterChanged();

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    static bool isEditingKey(const QKeyEvent& key);
    void editHex(const QKeyEvent& key, int position);
    void editPlain(const QKeyEvent& key, int position);
    // Reads the pattern back from the hexadecimal view's digit pairs.
    void patternFromHex();
    // A compared byte whose hexadecimal pair still holds a wildcard digit.
    bool hasHalfTypedByte() const;
    void showHex(const QString& text, int cursor);
    void showPlain(int cursor);
    // Puts back the editor's texts after a change that did not come through
    // the key handling (a paste, a drop).
    void restoreTexts();

    std::unique_ptr<Ui::FilterControl> ui_;
    uint8_t pattern_[kPatternLength] = {};
    uint16_t careMask_ = 0;  // bit i: pattern byte i is compared
    // The hexadecimal view may hold a half-typed byte ("5*") that the pattern
    // cannot express, so its text is kept as it is.
    QString hex_;
};
