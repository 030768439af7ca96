// Editor of the payload pattern (DPI) filter: sixteen bytes, each a value to
// match or a wildcard, shown as hexadecimal and as characters.
// Placeholder: the panel keeps the pattern it is given; its editing behaviour comes later.
#pragma once

#include <QWidget>
#include <cstdint>

#include "NettlebeamAPI.h"

class FilterControl : public QWidget {
    Q_OBJECT
  public:
    static constexpr int kPatternLength = 16;

    explicit FilterControl(QWidget* parent = nullptr);

    // Takes the first `count` pattern bytes (at most 16) and the care mask.
    bool setPattern(const NettlebeamApiDpiFilter& filter, int count);
    // Writes the sixteen pattern bytes and the care mask; `enabled` is left alone.
    void fillPattern(NettlebeamApiDpiFilter* filter) const;

  signals:
    // The user edited the pattern.
    void signal_filterChanged();

  private:
    uint8_t pattern_[kPatternLength] = {};
    uint16_t careMask_ = 0;  // bit i: pattern byte i is compared
};
