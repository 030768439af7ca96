// The device's operating features and port speeds as the Features, Network
// Ports, SFP and Timing pages show them: from the records to the widgets
// (with the widgets' signals blocked) and back.
#pragma once

#include <QString>

#include "NettlebeamAPI.h"
#include "portinterlock.h"

namespace Ui {
class MainWindow;
}

class FeaturesForm {
  public:
    // Shows what the device reports. The PPS delay slider is left alone
    // while `ppsDelayBeingEdited` (the user's value waits to be applied).
    static void display(Ui::MainWindow& ui, NettlebeamApiCapabilities caps,
                        const NettlebeamApiDeviceFeatures& features,
                        const NettlebeamApiPortsSpeed& speeds, bool ppsDelayBeingEdited);
    // Writes the widgets' values into `features`, leaving the fields the
    // device's capabilities do not offer as the mask says.
    static void collect(Ui::MainWindow& ui, NettlebeamApiCapabilities caps,
                        NettlebeamApiDeviceFeatures* features);
    static NettlebeamApiPortsSpeed portsSpeed(Ui::MainWindow& ui);
    // Both ports negotiating every speed with both pauses, no master, no loopback.
    static void loadNetworkDefaults(Ui::MainWindow& ui);

    static PortBoxes portBoxes(Ui::MainWindow& ui, int port);
    // "%1 ns": a slider step is 2^-32 s.
    static QString ppsDelayText(int sliderValue);
    static void refreshPpsDelayLabel(Ui::MainWindow& ui);

    // The init-source combo's entries hold these values, in order.
    static int initSourceIndex(int32_t value);
    static int32_t initSourceValue(int index);

  private:
    static void displayTiming(Ui::MainWindow& ui, const NettlebeamApiDeviceFeatures& features,
                              bool keepPpsDelay);
    static void collectTiming(Ui::MainWindow& ui, NettlebeamApiDeviceFeatures* features);
    static void displayPorts(Ui::MainWindow& ui, const NettlebeamApiPortsSpeed& speeds);
    static void displayFirmwareSelection(Ui::MainWindow& ui, NettlebeamApiCapabilities caps,
                                         const NettlebeamApiDeviceFeatures& features);
};
