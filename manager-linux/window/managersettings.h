// The manager's persisted settings: one QSettings store in Qt's native user
// scope (~/.config/Hollyfen/NettlebeamManager.conf, readable by its owner
// only: it holds the appliance's API token). Every write is flushed at
// once, so a crash loses nothing already written. Devices are keyed by their
// MAC text without colons; a MAC text that is not 17 characters long (the
// library could not read it) never reaches the store.
#pragma once

#include <QList>
#include <QSettings>
#include <QString>
#include <array>
#include <optional>

#include "NettlebeamAPI.h"

constexpr int kProgrammableCounters = 16;

using CounterConfigs = std::array<NettlebeamApiCounterV2, kProgrammableCounters>;

// One counter as the panel holds it: its configuration and whether it is hidden.
struct StoredCounter {
    NettlebeamApiCounterV2 config{};
    bool hidden = false;
};

class ManagerSettings {
  public:
    ManagerSettings();

    QSettings* store() { return &settings_; }
    QString fileName() const { return settings_.fileName(); }

    static bool isValidMac(const QString& mac) { return mac.size() == 17; }
    static QString deviceKey(const QString& mac);

    // "Nettlebeam" for a device never named, "Bad MAC address" for a bad MAC text.
    QString friendlyName(const QString& mac);
    void storeFriendlyName(const QString& mac, const QString& name);

    // The sixteen counters of a device, defaults and clamping applied;
    // nothing for a bad MAC text.
    std::optional<CounterConfigs> loadCounters(const QString& mac);
    // Whether any counter of the device was ever stored.
    bool hasCounters(const QString& mac);
    void storeCounters(const QString& mac, const QList<StoredCounter>& counters);

    QString captureLocation();
    // Stores the absolute path of `path`.
    void storeCaptureLocation(const QString& path);
    QString addonCaptureFolder();
    void storeAddonCaptureFolder(const QString& folder);

    // "00 1a ff ..." (sixteen bytes); parsed only when it has exactly sixteen parts.
    static QString bytesText(const uint8_t bytes[16]);
    static bool parseBytes(const QString& text, uint8_t bytes[16]);

    // Creates the file readable by its owner only, or takes the other users'
    // access away from an existing one; false (with a warning) when it cannot.
    static bool restrictToOwner(const QString& fileName);

  private:
    NettlebeamApiCounterV2 readCounter(int index);
    void writeCounter(const StoredCounter& counter);

    QSettings settings_;
};
