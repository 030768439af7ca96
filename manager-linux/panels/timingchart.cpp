#include "timingchart.h"

#include <cmath>

namespace {

// Clock-time labels every ten seconds.
class TenSecondTicker : public QCPAxisTickerDateTime {
  protected:
    double getTickStep(const QCPRange&) override { return 10.0; }
};

}  // namespace

TimingChart::TimingChart(QWidget* parent) : QCustomPlot(parent) {
    addGraph();
    graph(0)->setPen(QPen(Qt::darkBlue));
    QSharedPointer<TenSecondTicker> ticker(new TenSecondTicker);
    ticker->setDateTimeFormat(QStringLiteral("hh:mm:ss"));
    xAxis->setTicker(ticker);
    yAxis->setLabel(QStringLiteral("ns"));
    reset();
}

void TimingChart::addPoint(double seconds, double deviation) {
    if (!std::isfinite(seconds) || !std::isfinite(deviation)) return;
    QCPGraph* points = graph(0);
    points->addData(seconds, deviation);
    points->data()->removeBefore(seconds - kSpanSeconds);
    showSpanEndingAt(seconds + 0.25);
    bool found = false;
    const QCPRange values = points->data()->valueRange(found);
    if (found) yAxis->setRange(values.lower - 1.0, values.upper + 1.0);
    if (isVisible()) replot();
}

void TimingChart::reset() {
    graph(0)->data()->clear();
    showSpanEndingAt(QDateTime::currentMSecsSinceEpoch() / 1000.0);
    yAxis->setRange(-10.0, 10.0);
    if (isVisible()) replot();
}

int TimingChart::pointCount() const {
    return graph(0)->dataCount();
}

void TimingChart::showSpanEndingAt(double seconds) {
    xAxis->setRange(seconds - kSpanSeconds, seconds);
}
