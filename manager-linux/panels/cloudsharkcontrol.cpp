#include "cloudsharkcontrol.h"

#include <utility>

CloudsharkControl::CloudsharkControl(QWidget* parent) : QWidget(parent) {}

void CloudsharkControl::setSettings(QSettings* settings) {
    settings_ = settings;
}

void CloudsharkControl::setDeviceLookup(DeviceLookup lookup) {
    lookup_ = std::move(lookup);
}

void CloudsharkControl::captureStatusChanged(NettlebeamApiDeviceHandle /*handle*/,
                                             NettlebeamApiCallbackValue_DiskDump /*status*/) {}

void CloudsharkControl::newFileAvailable(NettlebeamApiDeviceHandle /*handle*/,
                                         QString /*filename*/) {}
