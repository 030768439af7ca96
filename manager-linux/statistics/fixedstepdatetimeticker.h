// A date-time axis ticker with a tick step the program sets, so a chart
// shows ten divisions of its time scale whatever the axis length.
#pragma once

#include <qcustomplot.h>

class FixedStepDateTimeTicker : public QCPAxisTickerDateTime {
  public:
    void setStep(double seconds) { step_ = seconds; }
    double step() const { return step_; }

  protected:
    double getTickStep(const QCPRange& range) override;

  private:
    double step_ = 10.0;
};
