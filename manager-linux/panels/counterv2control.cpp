#include "counterv2control.h"

#include <qcustomplot.h>

#include <QEvent>
#include <QFrame>
#include <QGridLayout>
#include <QLabel>
#include <QPushButton>
#include <QSharedPointer>
#include <algorithm>

#include "countertext.h"
#include "counterv2editor.h"
#include "textfit.h"

namespace {

constexpr double kPlotSeconds = 30.0;
constexpr double kPlotLead = 0.25;  // the key axis ends this long after now
constexpr int kColumns = 13;

QLabel* tag(const char* name, const char* text, QSize size, QWidget* parent) {
    auto* label = new QLabel(QString::fromLatin1(text), parent);
    label->setObjectName(QString::fromLatin1(name));
    label->setFixedSize(size);
    return label;
}

// Room for the widest of `texts` in `widget`'s font, with `padding` beside it.
int widthFor(const QWidget* widget, std::initializer_list<const char*> texts, int padding) {
    int width = 0;
    for (const char* text : texts) width = std::max(width, textWidth(widget, QLatin1String(text)));
    return width + padding;
}

QLabel* figure(const char* name, QWidget* parent) {
    auto* label = new QLabel(QStringLiteral("-"), parent);
    label->setObjectName(QString::fromLatin1(name));
    label->setFixedWidth(widthFor(label, {"18446744073709551615"}, 6));
    return label;
}

double secondsSinceEpoch(const QDateTime& when) {
    return static_cast<double>(when.toMSecsSinceEpoch()) / 1000.0;
}

}  // namespace

CounterV2Control::CounterV2Control(QWidget* parent) : QWidget(parent) {
    setObjectName(QStringLiteral("CounterV2Control"));
    resize(1157, 43);
    for (int32_t* state :
         {&definition_.isIPv4, &definition_.isIPv6, &definition_.isbcast, &definition_.ismcast,
          &definition_.isucast, &definition_.isicmp, &definition_.isudp, &definition_.istcp,
          &definition_.iscrcValid, &definition_.isDropped}) {
        *state = -1;
    }
    definition_.sizeMode = -1;
    buildForm();
    showDefinition();
    QMetaObject::connectSlotsByName(this);
}

void CounterV2Control::buildForm() {
    auto* grid = new QGridLayout(this);
    grid->setContentsMargins(0, 0, 0, 0);
    grid->setVerticalSpacing(1);
    // Little spacing, so the columns stay close to the page's header labels.
    grid->setHorizontalSpacing(2);
    auto* line = new QFrame(this);
    line->setObjectName(QStringLiteral("line"));
    line->setFrameShape(QFrame::HLine);
    line->setFrameShadow(QFrame::Sunken);
    grid->addWidget(line, 0, 0, 1, kColumns);

    // Every column is as wide as its longest text in this widget's font, so
    // nothing is cut and neighbouring tags keep a gap at any resolution.
    const int height = std::max(20, fontMetrics().height() + 4);
    numberLabel_ = tag("numberLabel", "N", {widthFor(this, {"88"}, 10), 2 * height - 4}, this);
    editBtn_ = new QPushButton(QStringLiteral("Edit"), this);
    editBtn_->setObjectName(QStringLiteral("editBtn"));
    resetBtn_ = new QPushButton(QStringLiteral("Reset"), this);
    resetBtn_->setObjectName(QStringLiteral("resetBtn"));
    const int buttonWidth =
        std::max({60, editBtn_->sizeHint().width(), resetBtn_->sizeHint().width()});
    editBtn_->setFixedSize(buttonWidth, height);
    resetBtn_->setFixedSize(buttonWidth, height);
    grid->addWidget(numberLabel_, 1, 0, 2, 1);
    grid->addWidget(editBtn_, 1, 1);
    grid->addWidget(resetBtn_, 2, 1);

    const QSize narrow(widthFor(this, {"A", "B"}, 8), height);
    const QSize ip(widthFor(this, {"IPv4", "IPv6"}, 4), height);
    const QSize address(widthFor(this, {"DDDD:DDDD:DDDD:DDDD:DDDD:DDDD:DDDD:DDDD/128"}, 8), height);
    const QSize kind(widthFor(this, {"Ucast", "Mcast", "Bcast", "ICMP", "UDP", "TCP"}, 8), height);
    const QSize size(widthFor(this, {"Any size", "= 99999", "CRC"}, 6), height);
    struct Placed {
        QLabel** label;
        const char* name;
        const char* text;
        QSize size;
        int row, column;
    };
    const Placed tags[] = {
        {&port1Label_, "port1Label", "A", narrow, 1, 2},
        {&port2Label_, "port2Label", "B", narrow, 2, 2},
        {&ipv4Label_, "ipv4Label", "IPv4", ip, 1, 3},
        {&ipv6Label_, "ipv6Label", "IPv6", ip, 2, 3},
        {&ipaddrLabel_, "ipaddrLabel", "IP Address/Mask", address, 1, 4},
        {&ucastLabel_, "ucastLabel", "Ucast", kind, 1, 5},
        {&icmpLabel_, "icmpLabel", "ICMP", kind, 2, 5},
        {&mcastLabel_, "mcastLabel", "Mcast", kind, 1, 6},
        {&udpLabel_, "udpLabel", "UDP", kind, 2, 6},
        {&bcastLabel_, "bcastLabel", "Bcast", kind, 1, 7},
        {&tcpLabel_, "tcpLabel", "TCP", kind, 2, 7},
        {&sizeLabel_, "sizeLabel", "Size", size, 1, 8},
        {&crcLabel_, "crcLabel", "CRC", size, 2, 8},
    };
    for (const Placed& placed : tags) {
        *placed.label = tag(placed.name, placed.text, placed.size, this);
        if (placed.size == narrow || placed.size == kind)
            (*placed.label)->setAlignment(Qt::AlignCenter);
        grid->addWidget(*placed.label, placed.row, placed.column);
    }
    ipaddrLabel_->setIndent(4);
    totalLabel_ = figure("totalLabel", this);
    rateLabel_ = figure("rateLabel", this);
    grid->addWidget(totalLabel_, 1, 9, 2, 1);
    grid->addWidget(rateLabel_, 1, 10, 2, 1);
    auto* spacer = new QWidget(this);
    spacer->setFixedWidth(10);
    grid->addWidget(spacer, 1, 11);
    buildChart();
    grid->addWidget(chart_, 1, 12, 2, 1);
    grid->setColumnStretch(12, 1);
}

void CounterV2Control::buildChart() {
    chart_ = new QCustomPlot(this);
    chart_->setObjectName(QStringLiteral("chart"));
    chart_->setFixedHeight(36);
    QCPGraph* graph = chart_->addGraph();
    graph->setPen(QPen(Qt::blue));
    graph->setBrush(QBrush(QColor(0, 0, 255, 20)));
    // A sparkline: no tick labels, no margins beyond the frame.
    chart_->xAxis->setTickLabels(false);
    chart_->yAxis->setTickLabels(false);
    chart_->axisRect()->setAutoMargins(QCP::msNone);
    chart_->axisRect()->setMargins(QMargins(1, 1, 1, 1));
    QSharedPointer<QCPAxisTickerFixed> ticker(new QCPAxisTickerFixed);
    ticker->setTickStep(10.0);
    chart_->xAxis->setTicker(ticker);
    chart_->installEventFilter(this);
}

void CounterV2Control::alignHeader(QLabel* number, QLabel* definition, QLabel* total,
                                   QLabel* rate) const {
    const int spacing = static_cast<QGridLayout*>(layout())->horizontalSpacing();
    int definitionWidth = 0;
    for (const QWidget* column :
         std::initializer_list<const QWidget*>{editBtn_, port1Label_, ipv4Label_, ipaddrLabel_,
                                               ucastLabel_, mcastLabel_, bcastLabel_, sizeLabel_})
        definitionWidth += column->minimumWidth() + spacing;
    const std::pair<QLabel*, int> widths[] = {{number, numberLabel_->minimumWidth()},
                                              {definition, definitionWidth - spacing},
                                              {total, totalLabel_->minimumWidth()},
                                              {rate, rateLabel_->minimumWidth()}};
    for (const auto& [label, width] : widths) label->setFixedWidth(width);
}

void CounterV2Control::setNumber(int number) {
    definition_.index = number;
    numberLabel_->setText(QString::number(number));
}

void CounterV2Control::setDefinition(const NettlebeamApiCounterV2& definition) {
    definition_ = definition;
    setHidden(hidden_);
    showDefinition();
}

void CounterV2Control::setCounterHidden(bool hidden) {
    hidden_ = hidden;
    setHidden(hidden);
}

void CounterV2Control::showDefinition() {
    using CounterText::tagStyle;
    numberLabel_->setText(QString::number(definition_.index));
    port1Label_->setStyleSheet(tagStyle(definition_.port1));
    port2Label_->setStyleSheet(tagStyle(definition_.port2));
    const std::pair<QLabel*, int32_t> states[] = {
        {ipv4Label_, definition_.isIPv4},   {ipv6Label_, definition_.isIPv6},
        {bcastLabel_, definition_.isbcast}, {mcastLabel_, definition_.ismcast},
        {ucastLabel_, definition_.isucast}, {icmpLabel_, definition_.isicmp},
        {udpLabel_, definition_.isudp},     {tcpLabel_, definition_.istcp},
        {crcLabel_, definition_.iscrcValid}};
    for (const auto& [label, state] : states) label->setStyleSheet(tagStyle(state));
    ipaddrLabel_->setText(CounterText::addressText(definition_));
    sizeLabel_->setText(CounterText::sizeText(definition_.sizeMode, definition_.size));
}

void CounterV2Control::restart() {
    restartPending_ = true;
}

void CounterV2Control::reset() {
    resetPending_ = true;
}

void CounterV2Control::on_resetBtn_clicked() {
    reset();
}

void CounterV2Control::updateCounters(const StatsThreadInfo& info) {
    updateCounters(CounterSnapshot::of(info.statistics), QDateTime::currentDateTime());
}

void CounterV2Control::updateCounters(const CounterSnapshot& snapshot, const QDateTime& now) {
    if (restartPending_) {
        restartPending_ = false;
        baseline_ = CounterSnapshot{};
        previous_ = snapshot;
        chart_->graph(0)->data()->clear();
        redrawChart();
        return;
    }
    if (resetPending_) {
        resetPending_ = false;
        baseline_ = snapshot;
    }
    const CounterSnapshot sincePrevious = CounterSnapshot::difference(snapshot, previous_);
    const CounterSnapshot sinceBaseline = CounterSnapshot::difference(snapshot, baseline_);
    const int n = definition_.index;
    totalLabel_->setText(QString::number(sinceBaseline.counter(n)));
    if (const std::optional<double> rate = sincePrevious.ratePerSecond(n)) {
        rateLabel_->setText(QString::number(*rate, 'f', 0));
        addRatePoint(*rate, now);
    } else {
        rateLabel_->setText(QStringLiteral("-"));
    }
    previous_ = snapshot;
}

void CounterV2Control::addRatePoint(double rate, const QDateTime& now) {
    const double key = secondsSinceEpoch(now);
    QCPGraph* graph = chart_->graph(0);
    graph->addData(key, rate);
    graph->data()->removeBefore(key - kPlotSeconds);
    graph->rescaleValueAxis();
    // Rates start at zero; a flat line of zeros sits at the bottom.
    chart_->yAxis->setRange(0, std::max(chart_->yAxis->range().upper, 1.0));
    chart_->xAxis->setRange(key + kPlotLead, kPlotSeconds, Qt::AlignRight);
    redrawChart();
}

void CounterV2Control::redrawChart() {
    if (chart_->isVisible() && !chart_->visibleRegion().isEmpty()) {
        chartStale_ = false;
        chart_->replot(QCustomPlot::rpQueuedReplot);
    } else {
        chartStale_ = true;
    }
}

bool CounterV2Control::eventFilter(QObject* watched, QEvent* event) {
    // A plot that missed updates while hidden or scrolled away is drawn
    // again when it is about to be seen.
    if (watched == chart_ && chartStale_ &&
        (event->type() == QEvent::Show || event->type() == QEvent::Paint)) {
        chartStale_ = false;
        chart_->replot(QCustomPlot::rpQueuedReplot);
    }
    return QWidget::eventFilter(watched, event);
}

void CounterV2Control::on_editBtn_clicked() {
    auto* editor = new CounterV2Editor(this);
    editor->setModal(true);
    editor->setRecord(definition_);
    const int result = editor->exec();
    if (result == QDialog::Accepted) {
        setDefinition(editor->record());
        emit CounterConfigChanged(definition_.index);
    }
    delete editor;
}
