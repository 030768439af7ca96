// The analysis add-on's page: the mode buttons and the start/stop button
// drive the add-on monitor, its state reports paint the status bullets, the
// edit buttons open the add-on's configuration files and the capture folder
// is kept in the settings. The window's named slots call in here; commands
// for the monitor leave through `command`.
#pragma once

#include <QObject>
#include <QString>
#include <array>

#include "glintfieldmonitor.h"

namespace Ui {
class MainWindow;
}
class ManagerSettings;
class QLabel;
class QWidget;

class AddonPage : public QObject {
    Q_OBJECT
  public:
    using Target = GlintfieldMonitor::glintfieldmonitor_target;
    using Status = GlintfieldMonitor::glintfieldmonitor_status;
    using Command = GlintfieldMonitor::glintfieldmonitor_command;

    // `window` parents the dialogs.
    AddonPage(Ui::MainWindow& ui, ManagerSettings& settings, QWidget* window);

    // Starts the selected mode while the add-on is stopped, stops it otherwise.
    void startStopClicked();
    void statusChanged(Target target, Status status);
    // Greys the bullets of the parts the selected mode leaves out.
    void modeChanged();
    void editConfig(const QString& path);
    void browseCaptureFolder();
    void captureFolderEdited();

  signals:
    void command(GlintfieldMonitor::glintfieldmonitor_target target,
                 GlintfieldMonitor::glintfieldmonitor_command command);

  private:
    Command selectedMode() const;
    static bool modeUses(Command mode, Target target);
    QLabel* bullet(Target target) const;
    void show(Target target, Status status);
    void showStopped();

    Ui::MainWindow& ui_;
    ManagerSettings& settings_;
    QWidget* window_;
    // Set from the start request until the monitor reports every part stopped.
    bool running_ = false;
    std::array<Status, 4> status_;
};
