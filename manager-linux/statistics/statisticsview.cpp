#include "statisticsview.h"

#include <qcustomplot.h>

#include <QCheckBox>
#include <QComboBox>
#include <QDateTime>
#include <QDoubleSpinBox>
#include <QEvent>
#include <QLabel>
#include <QLocale>
#include <QPlainTextEdit>
#include <QRadioButton>
#include <algorithm>

#include "fixedstepdatetimeticker.h"
#include "qgauge.h"
#include "sqtablewidget.h"
#include "statisticsmath.h"

namespace {

constexpr std::array<Qt::GlobalColor, ChartPoints::kSeries> kSeriesColours{
    Qt::black,   Qt::red,       Qt::darkMagenta, Qt::blue, Qt::darkCyan,
    Qt::magenta, Qt::darkGreen, Qt::darkYellow,  Qt::gray};

// The moment of a record, as the log writes it.
QString nowText() {
    return QLocale::system().toString(QDateTime::currentDateTime(), QLocale::LongFormat);
}

// The chart's key: seconds since the epoch.
double nowSeconds() {
    return static_cast<double>(QDateTime::currentMSecsSinceEpoch()) / 1000.0;
}

// A gauge is repainted only when its needle moves.
void setGauge(QGauge* gauge, double value) {
    if (std::clamp(value, gauge->minimum(), gauge->maximum()) != gauge->value())
        gauge->setValue(value);
}

void setCell(QTableWidget* table, int row, int column, const QString& text) {
    QTableWidgetItem* item = table->item(row, column);
    if (item == nullptr) {
        item = new QTableWidgetItem;
        item->setTextAlignment(Qt::AlignTrailing | Qt::AlignVCenter);
        table->setItem(row, column, item);
    }
    if (item->text() != text) item->setText(text);
}

template <size_t Rows>
void setRows(QTableWidget* table, const std::array<TableRowTexts, Rows>& rows) {
    if (table == nullptr) return;
    for (size_t row = 0; row < Rows; ++row) {
        for (size_t column = 0; column < rows[row].size(); ++column)
            setCell(table, static_cast<int>(row), static_cast<int>(column), rows[row][column]);
    }
}

}  // namespace

StatisticsView::StatisticsView(const StatisticsWidgets& widgets,
                               std::function<void()> upTimeWentBack, QObject* parent)
    : QObject(parent), widgets_(widgets), model_(std::move(upTimeWentBack)) {
    widgets_.log->setMaximumBlockCount(kLogLines);
    for (int port = 0; port < StatisticsMath::kPorts; ++port) createGraphs(port);
    display();
}

StatisticsView::~StatisticsView() = default;

void StatisticsView::createGraphs(int port) {
    QCustomPlot* plot = widgets_.plots[port];
    plot->clearGraphs();
    for (int graph = 0; graph < ChartPoints::kGraphs; ++graph) {
        QCPGraph* added = plot->addGraph();
        added->setPen(QPen(kSeriesColours[graph % ChartPoints::kSeries]));
        added->setVisible(false);
    }
    tickers_[port] = QSharedPointer<FixedStepDateTimeTicker>::create();
    tickers_[port]->setDateTimeFormat(QStringLiteral("hh:mm:ss"));
    plot->xAxis->setTicker(tickers_[port]);
    plot->yAxis->setRangeLower(0);
    plot->installEventFilter(this);
}

void StatisticsView::update(const NettlebeamApiStatistics& record) {
    const StatisticsFrame frame = model_.update(record, thresholds());
    if (frame.linkEvent != LinkTracker::Event::None)
        appendLog(LinkTracker::text(frame.linkEvent, nowText()));
    for (int port = 0; port < StatisticsMath::kPorts; ++port) {
        if (frame.tables[port]) showTables(port, *frame.tables[port]);
    }
    setLabel(widgets_.dropped, frame.droppedText);
    setLabel(widgets_.linkUp, frame.linkUpText);
    setLabel(widgets_.linkDown, frame.linkDownText);
    for (int port = 0; port < StatisticsMath::kPorts; ++port) {
        const PortFigures& figures = frame.ports[port];
        setGauge(widgets_.gauges[port][0], figures.usageNow);
        if (figures.averageBandwidth) setGauge(widgets_.gauges[port][1], *figures.averageBandwidth);
        setGauge(widgets_.gauges[port][2], figures.averageCrcErrors);
    }
    if (!frame.alarms.isEmpty()) {
        const QString time = nowText();
        for (const Alarm& alarm : frame.alarms) appendLog(alarm.text(time));
    }
    if (!frame.chartPoints.empty()) {
        const double now = nowSeconds();
        for (const ChartPoints::Point& point : frame.chartPoints) addPoint(point, now);
    }
}

void StatisticsView::showTables(int port, const TableTexts& texts) {
    for (SQTableWidget* table : widgets_.validTables) {
        if (table->port() != port) continue;
        setRows(table, texts.valid);
        setRows(table->pairedTable(), texts.invalid);
    }
}

void StatisticsView::setLabel(QLabel* label, const QString& text) {
    if (label->text() != text) label->setText(text);
}

void StatisticsView::appendLog(const QString& line) {
    widgets_.log->appendPlainText(line);
}

void StatisticsView::addPoint(const ChartPoints::Point& point, double now) {
    const int scale = point.scale;
    for (int port = 0; port < StatisticsMath::kPorts; ++port) {
        QCustomPlot* plot = widgets_.plots[port];
        for (int mode = 0; mode < ChartPoints::kModes; ++mode) {
            for (int series = 0; series < ChartPoints::kSeries; ++series) {
                QCPGraph* graph = plot->graph(ChartPoints::graphIndex(scale, mode, series));
                graph->addData(now, point.values[port][mode][series]);
                if (graph->visible()) graph->rescaleValueAxis(true);
                graph->data()->removeBefore(now - ChartPoints::spanSeconds(scale));
            }
        }
    }
    if (scale == selectedScale()) {
        setAxes(scale, now);
        replot();
    }
}

void StatisticsView::setAxes(int scale, double now) {
    for (int port = 0; port < StatisticsMath::kPorts; ++port) {
        QCustomPlot* plot = widgets_.plots[port];
        plot->yAxis->setRangeLower(0);
        plot->xAxis->setRange(now + 0.25, ChartPoints::spanSeconds(scale), Qt::AlignRight);
        tickers_[port]->setStep(ChartPoints::tickSeconds(scale));
    }
}

void StatisticsView::replot() {
    for (int port = 0; port < StatisticsMath::kPorts; ++port) {
        QCustomPlot* plot = widgets_.plots[port];
        // Drawing a plot nobody sees costs the most of all; it is drawn when shown.
        stale_[port] = !plot->isVisible();
        if (!stale_[port]) plot->replot();
    }
}

bool StatisticsView::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::Show) {
        for (int port = 0; port < StatisticsMath::kPorts; ++port) {
            if (watched == widgets_.plots[port] && stale_[port]) {
                stale_[port] = false;
                widgets_.plots[port]->replot(QCustomPlot::rpQueuedReplot);
            }
        }
    }
    return QObject::eventFilter(watched, event);
}

void StatisticsView::display() {
    const int scale = selectedScale();
    const int mode = selectedMode();
    for (int port = 0; port < StatisticsMath::kPorts; ++port) {
        QCustomPlot* plot = widgets_.plots[port];
        for (int graph = 0; graph < plot->graphCount(); ++graph)
            plot->graph(graph)->setVisible(false);
        // The axis fits the graphs now shown: after bytes per second, shares
        // in percent would otherwise lie flat at its bottom.
        bool fitted = false;
        for (int series = 0; series < ChartPoints::kSeries; ++series) {
            if (!widgets_.seriesChecks[port][series]->isChecked()) continue;
            QCPGraph* graph = plot->graph(ChartPoints::graphIndex(scale, mode, series));
            graph->setVisible(true);
            graph->rescaleValueAxis(fitted);
            fitted = fitted || !graph->data()->isEmpty();
        }
    }
    setAxes(scale, nowSeconds());
    replot();
}

void StatisticsView::clearCharts() {
    for (QCustomPlot* plot : widgets_.plots) {
        for (int graph = 0; graph < plot->graphCount(); ++graph)
            plot->graph(graph)->data()->clear();
    }
    replot();
}

void StatisticsView::reset(bool resetLog) {
    model_.reset();
    for (int port = 0; port < StatisticsMath::kPorts; ++port)
        showTables(port, TableCounters::resetTexts());
    clearCharts();
    if (resetLog) clearLog();
}

void StatisticsView::startDevice() {
    model_.startDevice();
}

void StatisticsView::resetCounters(int port) {
    model_.resetPort(port);
    showTables(port, TableCounters::resetTexts());
}

void StatisticsView::clearLog() {
    widgets_.log->clear();
}

int StatisticsView::selectedScale() const {
    return std::clamp(widgets_.scale->currentIndex(), 0, ChartPoints::kScales - 1);
}

int StatisticsView::selectedMode() const {
    return widgets_.perSecondMode->isChecked() ? 0 : 1;
}

AlarmThresholds StatisticsView::thresholds() const {
    AlarmThresholds thresholds;
    for (int port = 0; port < StatisticsMath::kPorts; ++port) {
        thresholds.bandwidthOn[port] = widgets_.bandwidthAlarm[port]->isChecked();
        thresholds.bandwidth[port] = widgets_.bandwidthThreshold[port]->value();
        thresholds.crcOn[port] = widgets_.crcAlarm[port]->isChecked();
        thresholds.crc[port] = widgets_.crcThreshold[port]->value();
    }
    return thresholds;
}
