#include "counterv2control.h"

CounterV2Control::CounterV2Control(QWidget* parent) : QWidget(parent) {}

void CounterV2Control::setNumber(int number) {
    definition_.index = number;
}

void CounterV2Control::setDefinition(const NettlebeamApiCounterV2& definition) {
    definition_ = definition;
    setHidden(hidden_);
}

void CounterV2Control::setCounterHidden(bool hidden) {
    hidden_ = hidden;
    setHidden(hidden);
}

void CounterV2Control::restart() {}

void CounterV2Control::reset() {}

void CounterV2Control::updateCounters(const StatsThreadInfo& /*info*/) {}
