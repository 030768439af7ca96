// Threshold alarms of the "Log" page: per port, the bandwidth usage and the
// share of CRC errors since the record checked before, each against its
// threshold when its check box is on. Every record above a threshold gives
// an alarm; the first record only becomes the reference.
#pragma once

#include <QList>
#include <QString>
#include <array>

#include "NettlebeamAPI.h"

struct AlarmThresholds {
    std::array<bool, 2> bandwidthOn{};
    std::array<double, 2> bandwidth{};
    std::array<bool, 2> crcOn{};
    std::array<double, 2> crc{};
};

struct Alarm {
    enum class Kind { Bandwidth, CrcErrors };
    int port = 0;
    Kind kind = Kind::Bandwidth;
    double threshold = 0;
    double value = 0;

    // The log line, `time` being the moment of the record as the user reads it.
    QString text(const QString& time) const;
};

class AlarmCheck {
  public:
    // Port A's alarms first, bandwidth before CRC errors. A value equal to
    // its threshold counts as above it.
    QList<Alarm> check(const NettlebeamApiStatistics& current,
                       const std::array<double, 2>& usageNow, const AlarmThresholds& thresholds);
    // The next record becomes the reference again (another device's counters).
    void forget() { firstSample_ = true; }

  private:
    bool firstSample_ = true;
    NettlebeamApiStatistics reference_{};
};
