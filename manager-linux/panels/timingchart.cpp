#include "timingchart.h"

TimingChart::TimingChart(QWidget* parent) : QCustomPlot(parent) {}

void TimingChart::addPoint(double /*seconds*/, double /*deviation*/) {}

void TimingChart::reset() {}
