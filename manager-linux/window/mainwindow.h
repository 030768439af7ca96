// The manager's single window. It owns every widget, the settings, the map of
// attached devices and the device worker, which makes every library call on
// a thread of its own: the window only emits requests (queued signals
// carrying a StatsThreadInfo) and shows the answers. The library calls made
// here are the cheap, lock-protected reads of the capability mask, the
// library version and the firmware image names, and one deliberate
// exception: slot_set_fw reads, sets and saves the features with blocking
// calls on this thread, so the chosen image is saved before the restart it
// then asks the worker for.
#pragma once

#include <QHash>
#include <QList>
#include <QMainWindow>
#include <QMessageBox>
#include <QString>
#include <QTimer>
#include <memory>

#include "firmwarestash.h"
#include "glintfieldmonitor.h"
#include "managersettings.h"
#include "nettlebeamdevice.h"
#include "statsthreadinfo.h"

namespace Ui {
class MainWindow;
}
class AddonPage;
class CounterV2Control;
class DeviceComboBox;
class FilterPage;
class PhyStatusTables;
class StatisticsView;
class StatsThread;
class QWidget;

class MainWindow : public QMainWindow {
    Q_OBJECT
  public:
    // `firmwareFolder` overrides the catalogue folder beside the executable.
    explicit MainWindow(QWidget* parent = nullptr, const QString& firmwareFolder = QString());
    ~MainWindow() override;

    // The selected device's handle, -1 when none is selected.
    NettlebeamApiDeviceHandle currentHandle() const { return currentDevice_->handle; }
    bool hasDevice(NettlebeamApiDeviceHandle handle) const { return devices_.contains(handle); }
    DeviceComboBox* deviceSelector() const { return selector_; }
    GlintfieldMonitor& glintfieldMonitor() { return glintfieldMonitor_; }

  signals:
    void signal_get_features(const StatsThreadInfo& info);
    void signal_get_iface_status(const StatsThreadInfo& info);
    void signal_set_features(const StatsThreadInfo& info);
    void signal_save_features(const StatsThreadInfo& info);
    void signal_restart_device(const StatsThreadInfo& info);
    void signal_start_update(const StatsThreadInfo& info);
    void signal_dd_set_config(const StatsThreadInfo& info);
    void signal_dd_start(const StatsThreadInfo& info);
    void signal_dd_stop(const StatsThreadInfo& info);
    void signal_timing_resync(const StatsThreadInfo& info);
    void signal_set_v2counterconfig(const StatsThreadInfo& info);
    void signal_get_v2counterconfigs(const StatsThreadInfo& info);
    void signal_get_simplefilter(const StatsThreadInfo& info);
    void signal_get_dpifilter(const StatsThreadInfo& info);
    void signal_get_packetstypefilter(const StatsThreadInfo& info);
    void signal_set_simplefilter(const StatsThreadInfo& info);
    void signal_set_dpifilter(const StatsThreadInfo& info);
    void signal_set_packetstypefilter(const StatsThreadInfo& info);
    void signal_save_simplefilter(const StatsThreadInfo& info);
    void signal_save_dpifilter(const StatsThreadInfo& info);
    void signal_save_packetstypefilter(const StatsThreadInfo& info);
    // Declared for completeness of the request set; nothing emits them.
    void signal_get_iface_timing_status(const StatsThreadInfo& info);
    void signal_get_iface_statistics(const StatsThreadInfo& info);
    void signal_get_iface_dropped(const StatsThreadInfo& info);
    void signal_start_device(const StatsThreadInfo& info);
    void signal_dd_get_status(const StatsThreadInfo& info);
    void signal_glintfieldmonitor_command(GlintfieldMonitor::glintfieldmonitor_target target,
                                          GlintfieldMonitor::glintfieldmonitor_command command);

  public slots:
    void updateStats();
    void userStartUpdate();
    void userSaveFeatures();
    void counters_resetA();
    void counters_resetB();
    void counters_reset();
    void graphs_display();
    void graphs_clear();
    void resetAll(bool resetLog);
    void userChangedFeatures();
    void slot_sntp_failed(const QString& info);
    void slot_restart_device();

  private slots:
    void on_log_clear_btn_clicked();
    void addIface(const StatsThreadInfo& sti);
    void delIface(const StatsThreadInfo& sti);
    void statusUpdate(const StatsThreadInfo& sti);
    void featuresUpdate(const StatsThreadInfo& sti);
    void updateFinished(const StatsThreadInfo& sti);
    void updateProgress(const StatsThreadInfo& sti);
    void droppedUpdate(const StatsThreadInfo& sti);
    void changeDevice(int index);
    // The "Filters" page (FilterPage does the work).
    void on_enableSimpleFiltersCB_toggled(bool checked);
    void on_setSimpleFiltersBT_clicked();
    void on_saveSimpleFiltersBT_clicked();
    void on_enableFiltersCheckBox_toggled(bool checked);
    void on_setFiltersButton_clicked();
    void on_saveFiltersButton_clicked();
    void slot_filterChanged();
    void slot_simpleFilterReceived(const StatsThreadInfo& info);
    void slot_DPIFilterReceived(const StatsThreadInfo& info);
    void slot_PacketsTypeFilterReceived(const StatsThreadInfo& info);
    void on_setPacketsTypeFilterBT_clicked();
    void on_savePacketsTypeFilterBT_clicked();
    void slot_device_friendly_name_changed(NettlebeamDevice* dev);
    void counterV2ConfigChanged(int n);
    void counterV2ConfigReceived(const StatsThreadInfo& sti);
    void slot_SelectFirmware();
    void slot_capture_browse();
    void timingStatusUpdate(const StatsThreadInfo& sti);
    void timingPPSDelayChanged(int value);
    void slot_timing_graph_reset();
    void on_TimingSetGPSTime_clicked();
    void on_TimingSetSNTPTime_clicked();
    void slot_load_network_default();
    void slot_set_fw();
    void on_capture_start_btn_clicked();
    void on_capture_filetype_currentIndexChanged(int index);
    void on_maxCacheSizeTrackBar_valueChanged(int value);
    void featuresSaved(NettlebeamApiDeviceHandle handle, int32_t status);
    void captureStartRefused(NettlebeamApiDeviceHandle handle, int32_t status);
    // The analysis add-on's page (AddonPage does the work).
    void slot_edit_glintfield_server_file();
    void slot_edit_glintfield_ps_file();
    void slot_edit_glintfield_es_file();
    void slot_glintfieldmonitor_changed(GlintfieldMonitor::glintfieldmonitor_target target,
                                        GlintfieldMonitor::glintfieldmonitor_status status);
    void slot_glintfield_startstop();
    void slot_glintfield_update_greybullets();
    void slot_glintfield_select_directory();
    void slot_glintfield_directory_changed();

  protected:
    // Refused while a firmware update runs: closing would interrupt the flash.
    void closeEvent(QCloseEvent* event) override;

  private:
    void setUpGauges();
    void setUpTables();
    void setUpStatistics();
    void setUpCaptureDefaults();
    QList<CounterV2Control*> counterControls() const;
    void listFirmwareImages(const NettlebeamDevice& device);
    void buildSelector();
    void connectWorker();
    void buildFilterPage();
    void buildAddonPage();
    void recordPages();
    // Shows the pages the capability mask allows and opens "Features".
    void rebuildPages(NettlebeamApiCapabilities caps);
    // Enables the device-dependent controls the mask allows (false: disables them).
    void enableControls(bool enable);
    void showDeviceImage(NettlebeamApiDeviceType type);
    void showNoDevice();
    // Empties the link times and drop counts of the "Features" page.
    void clearDeviceFigures();
    // Description and link line of the "Features" page.
    void refreshDescription(const StatsThreadInfo& sti);
    bool versionsAcceptable(const StatsThreadInfo& sti);
    void offerFirmware(const StatsThreadInfo& sti);
    void startUpdate(const NettlebeamDevice& device, const QString& path);
    void finishUpdate(bool succeeded);
    void showCaptureStatus(const NettlebeamApiDiskDumpStatus& status);
    void showCaptureError();
    void resync(int32_t source);
    // A modal box with one OK button.
    void showBox(QMessageBox::Icon icon, const QString& title, const QString& text);
    void loadCounterConfigs(const NettlebeamDevice& device);
    // All sixteen rows' definitions, stored under the selected device's MAC.
    void storeCounterConfigs();
    bool isCurrent(NettlebeamApiDeviceHandle handle) const {
        return currentDevice_ != placeholder_ && handle == currentDevice_->handle;
    }
    // Whether a user's action may send to the selected device: not without
    // one, and nothing while an update runs (a restart or a setting sent
    // then would break the flash), whatever state the controls are in.
    bool canRequest() const { return currentDevice_ != placeholder_ && !updateInProgress_; }
    NettlebeamApiCapabilities currentCapabilities() const;
    StatsThreadInfo requestFor(const NettlebeamDevice& device) const;

    StatsThread* worker_ = nullptr;
    Ui::MainWindow* ui = nullptr;
    QTimer* statsTimer_ = nullptr;
    FirmwareStash firmware_;
    QHash<NettlebeamApiDeviceHandle, NettlebeamDevice*> devices_;
    NettlebeamDevice* placeholder_ = nullptr;
    NettlebeamDevice* currentDevice_ = nullptr;
    bool updateInProgress_ = false;
    // The device being flashed: its progress and result count whichever
    // device is selected meanwhile.
    NettlebeamApiDeviceHandle updatingHandle_ = -1;
    bool captureRunning_ = false;
    int32_t lastCaptureError_ = 0;
    bool startRefusalShown_ = false;
    // The counters read from the selected device so far, one bit each.
    uint32_t countersReceived_ = 0;
    std::unique_ptr<PhyStatusTables> phyTables_;
    std::unique_ptr<StatisticsView> statistics_;
    DeviceComboBox* selector_ = nullptr;
    QList<QWidget*> pages_;
    QList<QString> pageTitles_;
    std::unique_ptr<ManagerSettings> settings_;
    QTimer* featuresApplyTimer_ = nullptr;
    std::unique_ptr<FilterPage> filters_;
    GlintfieldMonitor glintfieldMonitor_;
    std::unique_ptr<AddonPage> addon_;
};
