// Which device-dependent controls of the window the user may touch: only
// what the selected device's capability mask allows, and nothing while a
// firmware update runs or no device is selected.
#pragma once

#include "NettlebeamAPI.h"

namespace Ui {
class MainWindow;
}

class ControlEnabler {
  public:
    // `enable` false disables every device-dependent control; true enables
    // those the mask allows, unless `updateInProgress`. `inlineMode` is the
    // selected device's stored operating mode.
    static void apply(Ui::MainWindow& ui, NettlebeamApiCapabilities caps, bool enable,
                      bool updateInProgress, bool inlineMode);

  private:
    static void applyPortBoxes(Ui::MainWindow& ui, bool enable, bool inlineMode);
    static void applyOtherPages(Ui::MainWindow& ui, bool enable);
};
