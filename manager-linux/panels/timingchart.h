// The Timing page's plot of the deviation from the PPS over the last 100 s.
// Placeholder: the chart takes its points; plotting them comes later.
#pragma once

#include <qcustomplot.h>

class TimingChart : public QCustomPlot {
    Q_OBJECT
  public:
    explicit TimingChart(QWidget* parent = nullptr);

    // `seconds` since the epoch (local clock), `deviation` in nanoseconds.
    void addPoint(double seconds, double deviation);
    // Removes every point and resets the axes.
    void reset();
};
