// Sends the files of a running direct capture to a Cloudshark appliance, one
// HTTP PUT at a time in the order the files were finished, optionally passed
// through TShark with a display filter first. The window gives it the
// settings store and forwards the device's capture events to it.
#pragma once

#include <QNetworkReply>
#include <QProcess>
#include <QString>
#include <QUrl>
#include <QWidget>
#include <atomic>
#include <deque>
#include <functional>
#include <map>
#include <memory>

#include "NettlebeamAPI.h"
#include "nettlebeamdevice.h"
#include "uploadentry.h"
#include "uploadmeter.h"

class QFile;
class QNetworkAccessManager;
class QSettings;

namespace Ui {
class CloudsharkControl;
}

class CloudsharkControl : public QWidget {
    Q_OBJECT
  public:
    // The window's device for a handle; its placeholder (handle -1) when unknown.
    using DeviceLookup = std::function<NettlebeamDevice*(NettlebeamApiDeviceHandle)>;

    // TShark is looked up on PATH.
    explicit CloudsharkControl(QWidget* parent = nullptr);
    // TShark at `tsharkPath`; an empty path means TShark is not available.
    CloudsharkControl(const QString& tsharkPath, QWidget* parent);
    ~CloudsharkControl() override;

    // The store holding the appliance settings; the window keeps ownership.
    void setSettings(QSettings* settings);
    void setDeviceLookup(DeviceLookup lookup);

  signals:
    void nextFileStarted();

  public slots:
    // A capture of `handle` started or stopped; stopping queues its last file.
    // A running state that comes again while the capture runs (after a cache
    // overflow, say) changes nothing.
    void captureStatusChanged(NettlebeamApiDeviceHandle handle,
                              NettlebeamApiCallbackValue_DiskDump status);
    // The capture of `handle` began writing `filename`: it is linked now, while
    // it exists, and the file before it is finished.
    void newFileAvailable(NettlebeamApiDeviceHandle handle, QString filename);
    // The same announcement, on the thread that receives the device's events
    // (safe on any thread): the link is made there at once, as a looping
    // capture may remove the file before this panel's thread gets to it, and
    // the linked file goes on to the panel's thread.
    void linkAnnouncedFile(NettlebeamApiDeviceHandle handle, const QString& filename);
    // `handle` left: its capture ends here, as no event of it comes any more.
    void deviceLeft(NettlebeamApiDeviceHandle handle);
    // Switches uploading off, drops every queued file and aborts the upload.
    void cancel();
    void SaveConfig();
    // TShark finished filtering the current file: its output is sent.
    void processSuccess(int exitCode, QProcess::ExitStatus exitStatus);
    void processError(QProcess::ProcessError error);
    void uploadProgress(qint64 bytesSent, qint64 bytesTotal);
    void uploadFinished();
    // Errors are handled when the reply finishes.
    void uploadError(QNetworkReply::NetworkError code);
    void hideProgress();
    void showProgress();
    void showError(QString text);
    void showErrorText(const QString& text);
    void hideError();
    void updateRemaining(qint64 total);
    void enabledChanged(int state);
    void enableConfig();
    void disableConfig();

  private:
    // A capture the panel follows, from its running state to its end.
    struct Capture {
        bool uploading = false;
        // The file the device writes, linked at its announcement.
        std::unique_ptr<UploadEntry> writing;
    };

    NettlebeamDevice* knownDevice(NettlebeamApiDeviceHandle handle) const;
    // `filename` announced and, unless `entry` is null with no reason in
    // `why`, already linked: it becomes the file the capture writes.
    void adoptAnnounced(NettlebeamApiDeviceHandle handle, const QString& filename,
                        std::unique_ptr<UploadEntry> entry, QString why);
    // The upload check box, as the thread receiving events reads it.
    void setUploadWanted(bool wanted);
    // The capture of `handle` is over: its last file is finished.
    void endCapture(NettlebeamApiDeviceHandle handle);
    void enqueue(std::unique_ptr<UploadEntry> entry);
    // A file that will not reach the appliance: said, without stopping the others.
    void reportLost(const QString& path, const QString& why);
    // The reply's failure, the token masked; empty when the appliance took the file.
    QString replyFailure() const;
    void startNext();
    void startUpload(std::unique_ptr<UploadEntry> entry);
    // Refuses the upload with `text`: uploading is switched off and every file dropped.
    void refuse(const QString& text);
    // Uploading is switched off: every file is dropped, the ones still being written too.
    void stopUploading();
    void startFilter();
    void drainFilterOutput();
    void put(const QString& path);
    // Kills a running TShark and waits for it; its output file is closed.
    void stopTShark();
    void releaseReply();
    void dropEntries();
    // The upload ended without a next one: the panel returns to idle.
    void becomeIdle();

    Ui::CloudsharkControl* ui;
    QString tsharkPath_;
    QSettings* settings_ = nullptr;
    DeviceLookup lookup_;
    QProcess* tshark_ = nullptr;
    QNetworkAccessManager* network_ = nullptr;
    QNetworkReply* reply_ = nullptr;
    std::deque<std::unique_ptr<UploadEntry>> queue_;
    std::unique_ptr<UploadEntry> current_;
    // TShark's output while it filters the current file.
    std::unique_ptr<QFile> filterOutput_;
    std::map<NettlebeamApiDeviceHandle, Capture> captures_;
    QUrl url_;
    qint64 remaining_ = 0;
    // Files of the present captures that did not reach the appliance.
    int lost_ = 0;
    UploadMeter meter_;
    // Whether announced files are linked as they arrive. Captures cannot start
    // uploading otherwise: the settings are locked while any capture runs.
    std::atomic<bool> uploadWanted_{false};
};
