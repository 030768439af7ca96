// The question that offers a catalogued firmware image to a device. With
// several devices attached, the user must see which one it is for and what
// it changes before answering.
#pragma once

#include <QString>
#include <array>
#include <cstdint>
#include <optional>

#include "NettlebeamAPI.h"

class FirmwareOffer {
  public:
    // The offer: the device (model, MAC text, friendly name), its software
    // firmware version from and to, and its hardware firmware version from
    // and to when the catalogue names one for the device's image slot.
    static QString text(NettlebeamApiDeviceType type, const QString& mac,
                        const QString& friendlyName, const NettlebeamApiVersions& from,
                        const std::array<uint8_t, 4>& swTo, std::optional<uint32_t> hwTo);
};
