// Uploads the files of a running direct capture to a Cloudshark appliance.
// Placeholder: the panel takes its settings and the capture events; uploading comes later.
#pragma once

#include <QString>
#include <QWidget>
#include <functional>

#include "NettlebeamAPI.h"
#include "nettlebeamdevice.h"

class QSettings;

class CloudsharkControl : public QWidget {
    Q_OBJECT
  public:
    // The window's device for a handle; its placeholder (handle -1) when unknown.
    using DeviceLookup = std::function<NettlebeamDevice*(NettlebeamApiDeviceHandle)>;

    explicit CloudsharkControl(QWidget* parent = nullptr);

    // The store holding the appliance settings; the window keeps ownership.
    void setSettings(QSettings* settings);
    void setDeviceLookup(DeviceLookup lookup);

  signals:
    void nextFileStarted();

  public slots:
    // A capture of `handle` started or stopped.
    void captureStatusChanged(NettlebeamApiDeviceHandle handle,
                              NettlebeamApiCallbackValue_DiskDump status);
    // The capture of `handle` began writing `filename`.
    void newFileAvailable(NettlebeamApiDeviceHandle handle, QString filename);

  private:
    QSettings* settings_ = nullptr;
    DeviceLookup lookup_;
};
