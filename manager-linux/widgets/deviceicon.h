// The artwork of each device type (NettlebeamApiDeviceTypeValue): a small
// icon for the device selector and a 128 x 128 image for the device page.
// Unidentified, bad-firmware and unknown types, including values the library
// does not define, show the warning image; DeviceTypeNone the disconnected one.
#pragma once

#include <QIcon>
#include <QString>

#include "NettlebeamAPI.h"

// Resource path of the selector icon of `type`.
QString deviceIconPath(NettlebeamApiDeviceType type);
QIcon deviceIcon(NettlebeamApiDeviceType type);
// Resource path of the device image of `type`.
QString deviceImagePath(NettlebeamApiDeviceType type);
