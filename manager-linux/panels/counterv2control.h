// One row of the programmable counters list: the counter's definition as
// coloured tags (lime: the packet must have the property, red: must not,
// silver: don't care), the total since the last reset, the rate and a plot of
// the last 30 seconds of it, and the "Edit" and "Reset" buttons. An accepted
// edit changes the definition and is announced with CounterConfigChanged; the
// window sends it to the device and stores it.
#pragma once

#include <QDateTime>
#include <QWidget>

#include "NettlebeamAPI.h"
#include "countersnapshot.h"
#include "statsthreadinfo.h"

class QCustomPlot;
class QLabel;
class QPushButton;

class CounterV2Control : public QWidget {
    Q_OBJECT
  public:
    explicit CounterV2Control(QWidget* parent = nullptr);

    // Gives the page's column headings the widths of this row's columns (the
    // heading row must space its labels as the rows do, 2 pixels).
    void alignHeader(QLabel* number, QLabel* definition, QLabel* total, QLabel* rate) const;

    // The counter number, 0 to 15; it is also the definition's index.
    void setNumber(int number);
    int number() const { return definition_.index; }

    // Takes a copy of the definition, re-applies the hidden flag and shows it.
    void setDefinition(const NettlebeamApiCounterV2& definition);
    NettlebeamApiCounterV2 definition() const { return definition_; }

    // A hidden row keeps its definition; it is only not shown.
    void setCounterHidden(bool hidden);
    bool counterHidden() const { return hidden_; }

    // Counting starts afresh with the next snapshot (new device): it becomes
    // the previous snapshot, the total counts from the device's zero and the
    // plot is cleared.
    void restart();
    // The next snapshot becomes the zero point of the total.
    void reset();
    // Takes the programmable counter values carried in a status answer.
    void updateCounters(const StatsThreadInfo& info);
    void updateCounters(const CounterSnapshot& snapshot, const QDateTime& now);

  signals:
    // The user accepted an edit of the definition; carries the counter number.
    void CounterConfigChanged(int number);

  public slots:
    void on_editBtn_clicked();
    void on_resetBtn_clicked();

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    void buildForm();
    void buildChart();
    void showDefinition();
    void addRatePoint(double rate, const QDateTime& now);
    // The plot is drawn only while it can be seen; otherwise when it shows.
    void redrawChart();

    NettlebeamApiCounterV2 definition_{};
    CounterSnapshot baseline_;
    CounterSnapshot previous_;
    bool restartPending_ = false;
    bool resetPending_ = false;
    bool hidden_ = false;
    bool chartStale_ = false;

    QLabel* numberLabel_ = nullptr;
    QPushButton* editBtn_ = nullptr;
    QPushButton* resetBtn_ = nullptr;
    QLabel* port1Label_ = nullptr;
    QLabel* port2Label_ = nullptr;
    QLabel* ipv4Label_ = nullptr;
    QLabel* ipv6Label_ = nullptr;
    QLabel* ipaddrLabel_ = nullptr;
    QLabel* ucastLabel_ = nullptr;
    QLabel* icmpLabel_ = nullptr;
    QLabel* mcastLabel_ = nullptr;
    QLabel* udpLabel_ = nullptr;
    QLabel* bcastLabel_ = nullptr;
    QLabel* tcpLabel_ = nullptr;
    QLabel* sizeLabel_ = nullptr;
    QLabel* crcLabel_ = nullptr;
    QLabel* totalLabel_ = nullptr;
    QLabel* rateLabel_ = nullptr;
    QCustomPlot* chart_ = nullptr;
};
