// The window's record of one attached device. The window owns every record
// (its device map); the device selector keeps non-owning pointers to them as
// item data, which is why the pointer type is a registered meta type.
#pragma once

#include <QMetaType>
#include <QString>
#include <cstdint>

#include "NettlebeamAPI.h"

struct NettlebeamDevice {
    NettlebeamApiDeviceHandle handle = -1;  // -1 for the "no device" placeholder
    QString mac;                            // "aa:bb:cc:dd:ee:ff", 17 characters
    NettlebeamApiDeviceType type = 0;
    QString friendlyName;
    NettlebeamApiDeviceFeatures features{};  // refreshed by every features answer
    bool uploading = false;  // a capture of this device is being uploaded as it is written
};

Q_DECLARE_METATYPE(NettlebeamDevice*)
