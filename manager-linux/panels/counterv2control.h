// One row of the programmable counters list: a counter's definition, its
// total and rate since the last reset.
// Placeholder: the row keeps its definition; its display and editor come later.
#pragma once

#include <QWidget>

#include "NettlebeamAPI.h"
#include "statsthreadinfo.h"

class CounterV2Control : public QWidget {
    Q_OBJECT
  public:
    explicit CounterV2Control(QWidget* parent = nullptr);

    // The counter number, 0 to 15; it is also the definition's index.
    void setNumber(int number);
    int number() const { return definition_.index; }

    void setDefinition(const NettlebeamApiCounterV2& definition);
    NettlebeamApiCounterV2 definition() const { return definition_; }

    // A hidden row keeps its definition; it is only not shown.
    void setCounterHidden(bool hidden);
    bool counterHidden() const { return hidden_; }

    // Counting starts afresh with the next snapshot (new device).
    void restart();
    // The next snapshot becomes the zero point of the total.
    void reset();
    // Takes the programmable counter values carried in a status answer.
    void updateCounters(const StatsThreadInfo& info);

  signals:
    // The user accepted an edit of the definition; carries the counter number.
    void CounterConfigChanged(int number);

  private:
    NettlebeamApiCounterV2 definition_{};
    bool hidden_ = false;
};
