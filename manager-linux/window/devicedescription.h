// The texts of the "Features" page that describe the selected device: the
// multi-line description (model, versions, MAC, USB speed) and the one-line
// link state.
#pragma once

#include <QString>

#include "NettlebeamAPI.h"

class DeviceDescription {
  public:
    // Model display name for the device types that have one; empty otherwise.
    static QString modelName(NettlebeamApiDeviceType type);
    // The description, USB line included.
    static QString describe(NettlebeamApiDeviceType type, const NettlebeamApiVersions& versions,
                            const uint8_t mac[6], uint8_t usbSpeed);
    static QString usbLine(uint8_t usbSpeed);

    // "1Gbps FDX" style, for one port of a device whose ports link separately.
    static QString portLinkText(const NettlebeamApiPortLink& port);
    // "Link Up 1Gbps Full Duplex" style, for a device with one shared link.
    static QString singleLinkText(const NettlebeamApiPortLink& port);
    // The link line: per port when the device reports its ports separately
    // and runs in span mode, otherwise the single link of port A; unknown
    // when the record holds no link state.
    static QString linkText(const NettlebeamApiLinkStatus& link, NettlebeamApiCapabilities caps,
                            bool inlineMode);
    // "Module Present / Module Absent": the transceiver cages of both ports.
    static QString moduleText(const NettlebeamApiLinkStatus& link);
};
