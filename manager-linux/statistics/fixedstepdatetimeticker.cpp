#include "fixedstepdatetimeticker.h"

double FixedStepDateTimeTicker::getTickStep(const QCPRange& range) {
    Q_UNUSED(range);
    // The base class would pick a step and a calendar strategy of its own;
    // leaving the strategy unset keeps plain multiples of the step.
    return step_;
}
