// The Timing page's plot of the deviation from the PPS over the last 100 s,
// with a time axis that ends just after the newest point.
#pragma once

#include <qcustomplot.h>

class TimingChart : public QCustomPlot {
    Q_OBJECT
  public:
    static constexpr double kSpanSeconds = 100.0;

    explicit TimingChart(QWidget* parent = nullptr);

    // `seconds` since the epoch (local clock), `deviation` in nanoseconds.
    // Points older than the span are dropped.
    void addPoint(double seconds, double deviation);
    // Removes every point and resets the axes.
    void reset();
    int pointCount() const;

  private:
    void showSpanEndingAt(double seconds);
};
