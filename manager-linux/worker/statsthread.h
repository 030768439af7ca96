// The manager's device worker. It lives on a thread of its own and performs
// every device request of the window as a short fixed sequence of library
// calls; requests and replies travel as StatsThreadInfo copies through queued
// signals. It also turns the library's device notifications, which arrive on
// the library's monitor thread, into queued signals.
#pragma once

#include <QHash>
#include <QObject>
#include <QSet>
#include <QString>

#include "statsthreadinfo.h"

class QThread;
class UpdateThread;

class StatsThread : public QObject {
    Q_OBJECT
  public:
    // Creates the worker thread, starts it and moves the worker onto it.
    StatsThread();
    // Ends the worker thread, uninitialises the library and withdraws the
    // global callbacks that point at this object.
    ~StatsThread() override;

    // Called once by the window after all connections are made: registers the
    // arrival and removal callbacks and initialises the library. Returns the
    // library's status.
    int32_t initialize();

  signals:
    void signal_add_iface(const StatsThreadInfo& info);
    void signal_del_iface(const StatsThreadInfo& info);
    void signal_status(const StatsThreadInfo& info);
    void signal_update_progress(const StatsThreadInfo& info);
    void signal_update_status(const StatsThreadInfo& info);
    void signal_features(const StatsThreadInfo& info);
    // One programmable counter's definition as the device holds it.
    void signal_v2counterconfig(const StatsThreadInfo& info);
    void signal_simple_filter(const StatsThreadInfo& info);
    void signal_DPI_filter(const StatsThreadInfo& info);
    void signal_packets_type_filter(const StatsThreadInfo& info);
    void signal_sntp_failed(const QString& info);
    void signal_new_capture_file(NettlebeamApiDeviceHandle handle, const QString& filename);
    void signal_capture_status_changed(NettlebeamApiDeviceHandle handle,
                                       NettlebeamApiCallbackValue_DiskDump status);
    // The result of a save of the features (0 on success).
    void signal_features_saved(NettlebeamApiDeviceHandle handle, int32_t status);
    // A filter set or save that the library or the device refused. The
    // filter is then read again and answered as after a request for it, so
    // that the window shows what the device holds.
    void signal_filter_refused(NettlebeamApiDeviceHandle handle, FilterRequest request);
    // A capture start was not sent, or the library refused it: its last
    // configuration failed or the start itself failed (the library's status).
    void signal_capture_start_refused(NettlebeamApiDeviceHandle handle, int32_t status);

  public slots:
    void slot_get_iface_status(const StatsThreadInfo& info);
    void slot_get_features(const StatsThreadInfo& info);
    void slot_set_features(const StatsThreadInfo& info);
    void slot_save_features(const StatsThreadInfo& info);
    void slot_dd_start(const StatsThreadInfo& info);
    void slot_dd_stop(const StatsThreadInfo& info);
    void slot_dd_set_config(const StatsThreadInfo& info);
    void slot_update_start(const StatsThreadInfo& info);
    void slot_update_progress(const StatsThreadInfo& info);
    void slot_update_status(const StatsThreadInfo& info);
    void slot_timing_resync(const StatsThreadInfo& info);
    void slot_set_v2counterconfig(const StatsThreadInfo& info);
    // Reads the sixteen definitions in turn, one answer each, up to the first
    // read that fails.
    void slot_get_v2counterconfigs(const StatsThreadInfo& info);
    void slot_get_simple_filter(const StatsThreadInfo& info);
    void slot_get_DPI_filter(const StatsThreadInfo& info);
    void slot_get_packets_type_filter(const StatsThreadInfo& info);
    void slot_set_simple_filter(const StatsThreadInfo& info);
    void slot_set_DPI_filter(const StatsThreadInfo& info);
    void slot_set_packets_type_filter(const StatsThreadInfo& info);
    void slot_save_simple_filter(const StatsThreadInfo& info);
    void slot_save_DPI_filter(const StatsThreadInfo& info);
    void slot_save_packets_type_filter(const StatsThreadInfo& info);
    void slot_restart_device(const StatsThreadInfo& info);

  private:
    // Library callbacks; they run on the library's monitor thread.
    static void onNewDevice(NettlebeamApiDeviceHandle handle, void* payload, void* context);
    static void onDeviceGone(NettlebeamApiDeviceHandle handle, void* payload, void* context);
    // These two run under the library's lock: they convert and emit only.
    static void onNewCaptureFile(NettlebeamApiDeviceHandle handle, void* payload, void* context);
    static void onCaptureStatus(NettlebeamApiDeviceHandle handle, void* payload, void* context);

    // Reports a refused filter request (`status` is the library's answer) and
    // reads that filter back; nothing for a request that succeeded.
    void checkFilterRequest(const StatsThreadInfo& info, FilterRequest request, int32_t status);

    // The device's identity as the window first sees it; false when any read fails.
    static bool readArrivingDevice(NettlebeamApiDeviceHandle handle, StatsThreadInfo* info);

    QThread* thread_;
    QSet<UpdateThread*> updates_;  // started and not yet finished
    // The status of each device's last capture configuration; a start
    // follows only a configuration the library accepted.
    QHash<NettlebeamApiDeviceHandle, int32_t> captureConfigStatus_;
};
