#include "managersettings.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>
#include <QStringList>
#include <cerrno>
#include <cstring>

namespace {

const QString kZeroBytes = QStringLiteral("00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00");

// The tri-state conditions of a counter, in the record's order.
struct TriState {
    const char* key;
    int32_t NettlebeamApiCounterV2::*field;
};
const TriState kTriStates[] = {
    {"isIPv4", &NettlebeamApiCounterV2::isIPv4},
    {"isIPv6", &NettlebeamApiCounterV2::isIPv6},
    {"isbcast", &NettlebeamApiCounterV2::isbcast},
    {"ismcast", &NettlebeamApiCounterV2::ismcast},
    {"isucast", &NettlebeamApiCounterV2::isucast},
    {"isicmp", &NettlebeamApiCounterV2::isicmp},
    {"isudp", &NettlebeamApiCounterV2::isudp},
    {"istcp", &NettlebeamApiCounterV2::istcp},
    {"iscrcValid", &NettlebeamApiCounterV2::iscrcValid},
    {"isDropped", &NettlebeamApiCounterV2::isDropped},
};

int32_t clampTo(int32_t value, int32_t low, int32_t high, int32_t fallback) {
    return value >= low && value <= high ? value : fallback;
}

QString counterGroup(int index) {
    return QStringLiteral("counter%1").arg(index);
}

// Creates the missing folders of `path` readable by their owner only
// (whatever the umask allows); folders that exist are left as they are.
bool makePrivateFolders(const QString& path) {
    const QString clean = QDir::cleanPath(path);
    for (int end = clean.indexOf(QLatin1Char('/'), 1);;
         end = clean.indexOf(QLatin1Char('/'), end + 1)) {
        const QByteArray folder = QFile::encodeName(end < 0 ? clean : clean.left(end));
        if (::mkdir(folder.constData(), 0700) != 0 && errno != EEXIST) {
            qWarning("Cannot create the configuration folder %s: %s", folder.constData(),
                     std::strerror(errno));
            return false;
        }
        if (end < 0) return true;
    }
}

}  // namespace

ManagerSettings::ManagerSettings()
    : settings_(QSettings::NativeFormat, QSettings::UserScope, QStringLiteral("Hollyfen"),
                QStringLiteral("NettlebeamManager")) {
    restrictToOwner(settings_.fileName());
}

bool ManagerSettings::restrictToOwner(const QString& fileName) {
    // The store holds the appliance's API token. Qt would create the file with
    // the umask's mode; its atomic writes keep the mode of the file they
    // replace, so a file made 0600 here stays 0600. Its folder is made here
    // too, before Qt would make it with the umask's mode.
    if (!makePrivateFolders(QFileInfo(fileName).absolutePath())) return false;
    const QByteArray native = QFile::encodeName(fileName);
    int fd = ::open(native.constData(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd < 0 && errno == EEXIST)
        fd = ::open(native.constData(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) {
        qWarning("Cannot open the configuration file %s: %s", native.constData(),
                 std::strerror(errno));
        return false;
    }
    struct stat info {};
    bool ok = ::fstat(fd, &info) == 0 && S_ISREG(info.st_mode) && info.st_uid == ::geteuid();
    if (ok && (info.st_mode & 077) != 0) ok = ::fchmod(fd, info.st_mode & 0700) == 0;
    if (!ok) qWarning("The configuration file %s is not kept private", native.constData());
    ::close(fd);
    return ok;
}

QString ManagerSettings::deviceKey(const QString& mac) {
    QString key = mac;
    return key.remove(':');
}

QString ManagerSettings::friendlyName(const QString& mac) {
    if (!isValidMac(mac)) return QStringLiteral("Bad MAC address");
    settings_.beginGroup(QStringLiteral("DeviceConfig"));
    settings_.beginGroup(deviceKey(mac));
    const QString name =
        settings_.value(QStringLiteral("FriendlyName"), QStringLiteral("Nettlebeam")).toString();
    settings_.endGroup();
    settings_.endGroup();
    return name;
}

void ManagerSettings::storeFriendlyName(const QString& mac, const QString& name) {
    if (!isValidMac(mac)) return;
    settings_.setValue(QStringLiteral("DeviceConfig/%1/FriendlyName").arg(deviceKey(mac)), name);
    settings_.sync();
}

std::optional<CounterConfigs> ManagerSettings::loadCounters(const QString& mac) {
    if (!isValidMac(mac)) return std::nullopt;
    CounterConfigs counters{};
    settings_.beginGroup(QStringLiteral("DeviceConfig/%1/StatsV2").arg(deviceKey(mac)));
    for (int n = 0; n < kProgrammableCounters; ++n) counters[n] = readCounter(n);
    settings_.endGroup();
    return counters;
}

bool ManagerSettings::hasCounters(const QString& mac) {
    if (!isValidMac(mac)) return false;
    settings_.beginGroup(QStringLiteral("DeviceConfig/%1/StatsV2").arg(deviceKey(mac)));
    const bool stored = !settings_.childGroups().isEmpty();
    settings_.endGroup();
    return stored;
}

NettlebeamApiCounterV2 ManagerSettings::readCounter(int index) {
    NettlebeamApiCounterV2 counter{};
    counter.index = index;
    settings_.beginGroup(counterGroup(index));
    // Values of the wrong type read as 0 (Qt's conversion) before clamping.
    auto number = [this](const char* key, int32_t fallback) {
        return settings_.value(QString::fromLatin1(key), fallback).toInt();
    };
    for (const TriState& state : kTriStates)
        counter.*state.field = clampTo(number(state.key, -1), -1, 1, -1);
    counter.size = number("size", 0);
    counter.sizeMode = clampTo(number("sizeMode", -1), -1, 2, -1);
    parseBytes(settings_.value(QStringLiteral("ip"), kZeroBytes).toString(), counter.ip);
    parseBytes(settings_.value(QStringLiteral("ipMask"), kZeroBytes).toString(), counter.ipMask);
    counter.port1 = number("port1", 0);
    counter.port2 = number("port2", 0);
    counter.mode = clampTo(number("mode", 0), 0, 1, 0);
    settings_.endGroup();
    return counter;
}

void ManagerSettings::storeCounters(const QString& mac, const QList<StoredCounter>& counters) {
    if (!isValidMac(mac)) return;
    settings_.beginGroup(QStringLiteral("DeviceConfig"));
    settings_.beginGroup(deviceKey(mac));
    settings_.beginGroup(QStringLiteral("StatsV2"));
    for (const StoredCounter& counter : counters) writeCounter(counter);
    settings_.endGroup();
    settings_.endGroup();
    settings_.endGroup();
    settings_.sync();
}

void ManagerSettings::writeCounter(const StoredCounter& counter) {
    const NettlebeamApiCounterV2& config = counter.config;
    settings_.beginGroup(counterGroup(config.index));
    for (const TriState& state : kTriStates)
        settings_.setValue(QString::fromLatin1(state.key), config.*state.field);
    settings_.setValue(QStringLiteral("size"), config.size);
    settings_.setValue(QStringLiteral("sizeMode"), config.sizeMode);
    settings_.setValue(QStringLiteral("ip"), bytesText(config.ip));
    settings_.setValue(QStringLiteral("ipMask"), bytesText(config.ipMask));
    settings_.setValue(QStringLiteral("port1"), config.port1);
    settings_.setValue(QStringLiteral("port2"), config.port2);
    settings_.setValue(QStringLiteral("mode"), config.mode);
    settings_.setValue(QStringLiteral("hidden"), counter.hidden ? 1 : 0);
    settings_.endGroup();
}

QString ManagerSettings::captureLocation() {
    const QString fallback = QDir::toNativeSeparators(
        QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation) +
        QStringLiteral("/capture.pcapng"));
    return settings_.value(QStringLiteral("LastLocations/DirectCapture"), fallback).toString();
}

void ManagerSettings::storeCaptureLocation(const QString& path) {
    settings_.setValue(QStringLiteral("LastLocations/DirectCapture"),
                       QFileInfo(path).absoluteFilePath());
    settings_.sync();
}

QString ManagerSettings::addonCaptureFolder() {
    return settings_
        .value(QStringLiteral("LastLocations/GlintfieldCaptureDirectory"), QDir::homePath())
        .toString();
}

void ManagerSettings::storeAddonCaptureFolder(const QString& folder) {
    settings_.setValue(QStringLiteral("LastLocations/GlintfieldCaptureDirectory"), folder);
    settings_.sync();
}

QString ManagerSettings::bytesText(const uint8_t bytes[16]) {
    QStringList parts;
    for (int i = 0; i < 16; ++i)
        parts << QStringLiteral("%1").arg(bytes[i], 2, 16, QLatin1Char('0'));
    return parts.join(' ');
}

bool ManagerSettings::parseBytes(const QString& text, uint8_t bytes[16]) {
    const QStringList parts = text.split(' ');
    if (parts.size() != 16) return false;
    for (int i = 0; i < 16; ++i) bytes[i] = static_cast<uint8_t>(parts[i].toUInt(nullptr, 16));
    return true;
}
