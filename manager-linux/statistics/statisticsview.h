// The statistics view: shows each per-second statistics record on the
// "Counters", "Charts" and "Log" pages and the link and drop figures of the
// "Features" page. The window owns the widgets and hands them over; the
// figures come from a StatisticsModel.
#pragma once

#include <QObject>
#include <QSharedPointer>
#include <array>
#include <functional>

#include "NettlebeamAPI.h"
#include "chartpoints.h"
#include "statisticsmodel.h"

class FixedStepDateTimeTicker;
class QCheckBox;
class QComboBox;
class QCustomPlot;
class QDoubleSpinBox;
class QGauge;
class QLabel;
class QPlainTextEdit;
class QRadioButton;
class SQTableWidget;

struct StatisticsWidgets {
    // Port A's and port B's table of valid frames; each knows its port and
    // the paired table of invalid frames.
    std::array<SQTableWidget*, 2> validTables{};
    // Per port: bandwidth usage now, average bandwidth, average CRC errors.
    std::array<std::array<QGauge*, 3>, 2> gauges{};
    std::array<QCustomPlot*, 2> plots{};
    std::array<std::array<QCheckBox*, ChartPoints::kSeries>, 2> seriesChecks{};
    QRadioButton* perSecondMode = nullptr;  // else the percentage mode
    QComboBox* scale = nullptr;
    std::array<QCheckBox*, 2> bandwidthAlarm{};
    std::array<QDoubleSpinBox*, 2> bandwidthThreshold{};
    std::array<QCheckBox*, 2> crcAlarm{};
    std::array<QDoubleSpinBox*, 2> crcThreshold{};
    QPlainTextEdit* log = nullptr;
    QLabel* dropped = nullptr;
    QLabel* linkUp = nullptr;
    QLabel* linkDown = nullptr;
};

class StatisticsView : public QObject {
    Q_OBJECT
  public:
    // The log keeps this many lines; older ones are dropped.
    static constexpr int kLogLines = 10000;

    // Creates the charts' graphs and axes and shows the selected ones.
    // `upTimeWentBack` runs when the link's up-time went back, before the
    // record is shown: the window resets everything but the log.
    StatisticsView(const StatisticsWidgets& widgets, std::function<void()> upTimeWentBack,
                   QObject* parent = nullptr);
    ~StatisticsView() override;

    void update(const NettlebeamApiStatistics& record);
    // Tables, averages and charts start over; the log is cleared on request.
    void reset(bool resetLog);
    // Another device's records follow: nothing of the device before is
    // compared with them (alarms) or carried over (the link state).
    void startDevice();
    // The tables and averages of one port (0 is port A) start over.
    void resetCounters(int port);
    // Shows the graphs of the selected scale, mode and series.
    void display();
    // Removes every point of every graph.
    void clearCharts();
    void clearLog();

  protected:
    // A plot changed while hidden is drawn when it is shown.
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    void createGraphs(int port);
    void showTables(int port, const TableTexts& texts);
    void addPoint(const ChartPoints::Point& point, double now);
    void setAxes(int scale, double now);
    void replot();
    void setLabel(QLabel* label, const QString& text);
    void appendLog(const QString& line);
    int selectedScale() const;
    int selectedMode() const;
    AlarmThresholds thresholds() const;

    StatisticsWidgets widgets_;
    StatisticsModel model_;
    std::array<QSharedPointer<FixedStepDateTimeTicker>, 2> tickers_;
    std::array<bool, 2> stale_{};
};
