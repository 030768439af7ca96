// The catalogue of firmware images shipped in the firmware folder beside the
// manager, and the decision whether a device should be offered one of them.
#pragma once

#include <QList>
#include <QMap>
#include <QString>
#include <array>
#include <cstdint>

#include "NettlebeamAPI.h"

class QXmlStreamReader;

struct FirmwareStashEntry {
    QString name;
    int32_t type = -1;                   // -1 in an empty entry
    QString file;                        // absolute path of the image
    std::array<uint8_t, 4> swVersion{};  // first component first
    QList<uint32_t> hwVersions;          // in document order, one per firmware image slot
};

class FirmwareStash {
  public:
    // The catalogue "firmware/firmware.xml" beside the running executable.
    FirmwareStash();
    // A catalogue in another firmware folder (the tests use this).
    explicit FirmwareStash(const QString& firmwareFolder);

    // Loads the catalogue; true when the file could be opened, whatever it holds.
    bool Refresh();

    FirmwareStashEntry entryForType(int32_t type) const;

    // True when the catalogue's software firmware for the type is newer than
    // the device's, or else when its hardware firmware for image slot
    // `hwIndex` is newer.
    bool isUpdateAvailable(uint32_t type, const NettlebeamApiVersions& versions,
                           uint32_t hwIndex) const;

    QString firmwareFolder() const { return folder_; }
    int size() const { return entries_.size(); }

  private:
    // Reads one "device" element; false when reading must stop.
    bool readDevice(QXmlStreamReader& xml);

    QString folder_;
    QMap<int32_t, FirmwareStashEntry> entries_;
};
