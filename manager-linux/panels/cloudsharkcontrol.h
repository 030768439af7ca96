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
    void captureStatusChanged(NettlebeamApiDeviceHandle handle,
                              NettlebeamApiCallbackValue_DiskDump status);
    // The capture of `handle` began writing `filename`: the file before it is finished.
    void newFileAvailable(NettlebeamApiDeviceHandle handle, QString filename);
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
    void hideError();
    void updateRemaining(qint64 total);
    void enabledChanged(int state);
    void enableConfig();
    void disableConfig();

  private:
    NettlebeamDevice* knownDevice(NettlebeamApiDeviceHandle handle) const;
    void enqueue(NettlebeamApiDeviceHandle handle, const QString& path);
    void startNext();
    void startUpload(std::unique_ptr<UploadEntry> entry);
    // Refuses the upload with `text`: uploading is switched off and every file dropped.
    void refuse(const QString& text);
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
    // The file each device is writing; queued once the device moves on.
    std::map<NettlebeamApiDeviceHandle, QString> writing_;
    QUrl url_;
    qint64 remaining_ = 0;
    bool captureRunning_ = false;
    UploadMeter meter_;
};
