// Everything the statistics view shows, computed from the per-second
// format-1 statistics records: link events, the tables of both ports, the
// link and drop figures of the "Features" page, the gauges' values, the
// alarms and the chart points. It keeps the history between records and
// knows nothing of widgets.
#pragma once

#include <QList>
#include <QString>
#include <array>
#include <functional>
#include <optional>
#include <vector>

#include "NettlebeamAPI.h"
#include "alarmcheck.h"
#include "chartpoints.h"
#include "linktracker.h"
#include "portaverages.h"
#include "tablecounters.h"

struct PortFigures {
    double usageNow = 0;                     // percent, since the previous record
    std::optional<double> averageBandwidth;  // percent, since the port's reset
    double averageCrcErrors = 0;             // percent of packets, since the port's reset
};

// What one record changes on the pages.
struct StatisticsFrame {
    LinkTracker::Event linkEvent = LinkTracker::Event::None;
    // Per port; none while the record only became the tables' base.
    std::array<std::optional<TableTexts>, 2> tables;
    QString droppedText;   // device drops of both ports
    QString linkUpText;    // h:mm:ss
    QString linkDownText;  // seconds, three decimals
    std::array<PortFigures, 2> ports;
    QList<Alarm> alarms;
    std::vector<ChartPoints::Point> chartPoints;
};

class StatisticsModel {
  public:
    // `upTimeWentBack` runs when a record's link up-time is smaller than the
    // previous one's, after this model started over and before the record is
    // taken in: the window clears everything else it shows.
    explicit StatisticsModel(std::function<void()> upTimeWentBack = {},
                             bool& linkState = LinkTracker::processState());

    StatisticsFrame update(const NettlebeamApiStatistics& record,
                           const AlarmThresholds& thresholds);

    // Everything starts over with the next record (the alarm reference and
    // the link state stay).
    void reset();
    // Records of another device follow: the alarm reference and the link
    // state go too, as they describe the device before.
    void startDevice();
    // The tables and averages of one port start over with the next record.
    void resetPort(int port);

    static QString linkUpText(uint64_t milliseconds);
    static QString linkDownText(uint64_t milliseconds);

  private:
    std::function<void()> upTimeWentBack_;
    LinkTracker link_;
    NettlebeamApiStatistics lastRecord_{};
    std::array<TableCounters, 2> tables_{TableCounters(0), TableCounters(1)};
    std::array<PortAverages, 2> averages_;
    AlarmCheck alarms_;
    ChartPoints charts_;
};
