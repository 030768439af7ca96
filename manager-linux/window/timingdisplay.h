// The Timing page's view of the device's timing status: GPS and sync
// bullets, satellite and deviation texts, time source and RTC time, and the
// deviation chart.
#pragma once

#include <QString>

#include "NettlebeamAPI.h"

namespace Ui {
class MainWindow;
}

class TimingDisplay {
  public:
    static void show(Ui::MainWindow& ui, const NettlebeamApiTimingStatus& status,
                     double nowSeconds);

    static QString satellitesText(const NettlebeamApiTimingStatus& status);
    // Empty for an unknown source.
    static QString timeSourceText(int32_t source);
    static QString rtcText(const NettlebeamApiTimingStatus& status);
};
