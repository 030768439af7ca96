#include "addonpage.h"

#include <QFileDialog>
#include <QPixmap>

#include "configfileeditor.h"
#include "managersettings.h"
#include "ui_mainwindow.h"

namespace {

using Monitor = GlintfieldMonitor;

constexpr Monitor::glintfieldmonitor_target kParts[] = {
    Monitor::Target_HTTPServer, Monitor::Target_ElasticSearch, Monitor::Target_Glintfield};

// Red is also the form's picture before anything was reported.
QString bulletImage(Monitor::glintfieldmonitor_status status) {
    switch (status) {
        case Monitor::Status_Started:
            return QStringLiteral(":/gps/green.png");
        case Monitor::Status_Starting:
        case Monitor::Status_Stopping:
            return QStringLiteral(":/gps/yellow.png");
        case Monitor::Status_Disabled:
            return QStringLiteral(":/gps/grey.png");
        case Monitor::Status_Stopped:
        case Monitor::Status_Error:
            break;
    }
    return QStringLiteral(":/gps/red.png");
}

}  // namespace

AddonPage::AddonPage(Ui::MainWindow& ui, ManagerSettings& settings, QWidget* window)
    : ui_(ui), settings_(settings), window_(window) {
    status_.fill(Monitor::Status_Stopped);
    showStopped();
    modeChanged();
}

Monitor::glintfieldmonitor_command AddonPage::selectedMode() const {
    if (ui_.GlintfieldModeListening->isChecked()) return Monitor::Command_StartListening;
    if (ui_.GlintfieldModeRemote->isChecked()) return Monitor::Command_StartRemote;
    return Monitor::Command_StartLocal;
}

bool AddonPage::modeUses(Command mode, Target target) {
    switch (mode) {
        case Monitor::Command_StartListening:
            return target == Monitor::Target_HTTPServer;
        case Monitor::Command_StartRemote:
            return target != Monitor::Target_HTTPServer;
        default:
            return true;
    }
}

QLabel* AddonPage::bullet(Target target) const {
    switch (target) {
        case Monitor::Target_HTTPServer:
            return ui_.GlintfieldHTTPServerBullet;
        case Monitor::Target_ElasticSearch:
            return ui_.GlintfieldElasticSearchBullet;
        case Monitor::Target_Glintfield:
            return ui_.GlintfieldEngineBullet;
        default:
            return ui_.GlintfieldMonitorBullet;
    }
}

void AddonPage::show(Target target, Status status) {
    if (target < 0 || target >= int(status_.size())) return;
    status_[target] = status;
    bullet(target)->setPixmap(QPixmap(bulletImage(status)));
}

// The mode can be changed again once nothing of the add-on runs.
void AddonPage::showStopped() {
    running_ = false;
    ui_.GlintfieldStart->setText(QStringLiteral("Start"));
    ui_.GlintfieldStart->setEnabled(true);
    for (QWidget* mode :
         {ui_.GlintfieldModeListening, ui_.GlintfieldModeLocal, ui_.GlintfieldModeRemote})
        mode->setEnabled(true);
    show(Monitor::Target_Monitor, Monitor::Status_Stopped);
}

void AddonPage::startStopClicked() {
    if (running_) {
        // Enabled again when the monitor reports the add-on stopped.
        ui_.GlintfieldStart->setEnabled(false);
        show(Monitor::Target_Monitor, Monitor::Status_Stopping);
        emit command(Monitor::Target_Monitor, Monitor::Command_Stop);
        return;
    }
    running_ = true;
    ui_.GlintfieldStart->setText(QStringLiteral("Stop"));
    for (QWidget* mode :
         {ui_.GlintfieldModeListening, ui_.GlintfieldModeLocal, ui_.GlintfieldModeRemote})
        mode->setEnabled(false);
    show(Monitor::Target_Monitor, Monitor::Status_Starting);
    emit command(Monitor::Target_Monitor, selectedMode());
}

void AddonPage::statusChanged(Target target, Status status) {
    if (target == Monitor::Target_Monitor) {
        if (status == Monitor::Status_Stopped) {
            showStopped();
            modeChanged();
        } else {
            show(target, status);
        }
        return;
    }
    show(target, status);
    // The add-on counts as started once one of its parts runs.
    if (status == Monitor::Status_Started &&
        status_[Monitor::Target_Monitor] == Monitor::Status_Starting)
        show(Monitor::Target_Monitor, Monitor::Status_Started);
}

void AddonPage::modeChanged() {
    const Command mode = selectedMode();
    for (Target part : kParts) {
        if (!modeUses(mode, part)) {
            show(part, Monitor::Status_Disabled);
        } else if (status_[part] == Monitor::Status_Disabled) {
            show(part, Monitor::Status_Stopped);
        }
    }
}

// The editor reports a file it cannot open itself and still opens.
void AddonPage::editConfig(const QString& path) {
    ConfigFileEditor editor(path, window_);
    editor.exec();
}

void AddonPage::browseCaptureFolder() {
    const QString folder = QFileDialog::getExistingDirectory(
        window_, QStringLiteral("Capture Folder"), ui_.GlintfieldCapturePath->text());
    if (!folder.isEmpty()) ui_.GlintfieldCapturePath->setText(folder);
}

void AddonPage::captureFolderEdited() {
    settings_.storeAddonCaptureFolder(ui_.GlintfieldCapturePath->text());
}
