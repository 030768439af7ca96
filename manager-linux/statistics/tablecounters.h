// The counters of one port as its two statistics tables show them: totals
// since the base record, rates since the previous record and each packet
// row's share of all packets. The first record after construction or a
// reset becomes the base and shows nothing new.
#pragma once

#include <QString>
#include <array>
#include <optional>

#include "NettlebeamAPI.h"

// One row's cells: "Total", "Rate (/s)", "Percentage".
using TableRowTexts = std::array<QString, 3>;

struct TableTexts {
    // "Valid packets", "< 64", "64 - 1522", "> 1522", "Valid bytes".
    std::array<TableRowTexts, 5> valid;
    // "Invalid packets", "< 64" (collisions), "64 - 1522" (CRC errors), "> 1522" (jabbers).
    std::array<TableRowTexts, 4> invalid;
};

class TableCounters {
  public:
    explicit TableCounters(int port) : port_(port) {}

    // The cells for `current`, or none while it only becomes the base.
    std::optional<TableTexts> update(const NettlebeamApiStatistics& current);
    // The next record becomes the base.
    void reset() { firstSample_ = true; }
    bool isFirstSample() const { return firstSample_; }

    // What a table shows after a reset: 0 totals and rates, no percentage.
    static TableTexts resetTexts();

  private:
    int port_;
    bool firstSample_ = true;
    NettlebeamApiStatistics base_{};
    NettlebeamApiStatistics previous_{};
};
