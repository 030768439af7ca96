// The window's plain logic: version rules, device texts, persisted settings.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <QDir>
#include <QFile>
#include <QSettings>
#include <QTemporaryDir>
#include <cstring>
#include <memory>

#include "availablememory.h"
#include "devicedescription.h"
#include "managersettings.h"
#include "versioncheck.h"
#include "versionnumber.h"

namespace {

const uint32_t kLibrary = VersionNumber::parse(QStringLiteral("2.3.19.0"));

NettlebeamApiPortLink port(int32_t speed, int32_t halfDuplex = 0) {
    return {1, speed, halfDuplex};
}

}  // namespace

TEST(VersionRules, ParseFormatAndTheRangeOfTheDriverAndTheLibrary) {
    EXPECT_EQ(VersionNumber::format(VersionNumber::parse(QStringLiteral("0.1.3.62"))),
              QStringLiteral("0.1.3.62"));
    EXPECT_EQ(VersionNumber::parse(QStringLiteral("0.1.3")), 0u);
    EXPECT_EQ(VersionNumber::parse(QStringLiteral("1.2.3.4.5")), 0u);
    EXPECT_EQ(VersionNumber::parse(QStringLiteral("1.x.3.4")),
              VersionNumber::parse(QStringLiteral("1.0.3.4")));
    EXPECT_EQ(VersionNumber::compare(VersionNumber::parse(QStringLiteral("1.0.0.0")),
                                     VersionNumber::parse(QStringLiteral("0.255.255.255"))),
              1);

    auto driverProblem = [](const char* version) {
        return VersionCheck::check(VersionNumber::parse(QString::fromLatin1(version)), kLibrary);
    };
    EXPECT_FALSE(driverProblem("0.1.3.62"));
    const auto old = driverProblem("0.1.3.61");
    ASSERT_TRUE(old);
    EXPECT_EQ(old->title, QStringLiteral("Wrong driver version"));
    EXPECT_EQ(old->text,
              QStringLiteral("Nettlebeam Manager has detected that your devices uses an old driver "
                             "version.\nPlease update it to use your device.\nCurrent version : "
                             "0.1.3.61\nRequired version : 0.1.3.62"));
    ASSERT_TRUE(driverProblem("0.1.3.63"));
    EXPECT_TRUE(driverProblem("0.1.3.63")->text.contains(QStringLiteral("too recent")));
    ASSERT_TRUE(driverProblem("0.1.4.0"));
    EXPECT_TRUE(driverProblem("0.1.4.0")->text.contains(QStringLiteral("too recent")));

    const uint32_t driver = VersionNumber::parse(QStringLiteral("0.1.3.62"));
    const auto oldLibrary =
        VersionCheck::check(driver, VersionNumber::parse(QStringLiteral("2.3.18.255")));
    ASSERT_TRUE(oldLibrary);
    EXPECT_EQ(oldLibrary->title, QStringLiteral("Wrong API version"));
    EXPECT_TRUE(oldLibrary->text.startsWith(
        QStringLiteral("Nettlebeam Manager has detected that you are using an old API")));
    EXPECT_FALSE(VersionCheck::check(driver, NETTLEBEAM_API_INTERFACE_VERSION));
}

TEST(DeviceTexts, DescriptionPerTypeWithTheUsbLine) {
    NettlebeamApiVersions versions{{1, 1, 0, 0}, {0, 1, 3, 62}, 42};
    const uint8_t mac[6] = {0x02, 0x0a, 0xff, 0x00, 0x10, 0x9b};
    EXPECT_EQ(DeviceDescription::describe(DeviceTypeGigabitGen2Gps, versions, mac,
                                          NETTLEBEAM_USB_SUPER_SPEED),
              QStringLiteral(
                  "Nettlebeam Gigabit TAP Gen 2 GPS Device Connected\nDriver Version : 0.1.3.62\n"
                  "SW Firmware Version : 1.1.0.0\nHW Firmware Version : 0042\n"
                  "MAC Address : 02:0a:ff:00:10:9b\nUsb : Super Speed\n"));
    EXPECT_EQ(DeviceDescription::describe(DeviceTypeGigabitGen1B, versions, mac, 0),
              QStringLiteral("Unknown Nettlebeam\n"));
    EXPECT_EQ(DeviceDescription::describe(99, versions, mac, NETTLEBEAM_USB_HIGH_SPEED),
              QStringLiteral("Unknown Nettlebeam\nUsb : High Speed\n"));
    EXPECT_EQ(DeviceDescription::describe(DeviceTypeBadFirmware, versions, mac, 7),
              QStringLiteral("Bad firmware Nettlebeam\n"));
}

TEST(DeviceTexts, LinkLinesPerPortInSpanModeOtherwiseTheSharedLink) {
    NettlebeamApiLinkStatus link{};
    // A record the library left unfilled tells nothing, although its zeros
    // spell 10 Mbps.
    EXPECT_EQ(DeviceDescription::linkText(link, 0, false), QStringLiteral("Link State Unknown"));
    link.linkValid = 1;
    link.ports[0] = port(NETTLEBEAM_LINK_SPEED_NO_LINK);
    link.ports[1] = port(NETTLEBEAM_LINK_SPEED_NO_LINK);
    EXPECT_EQ(DeviceDescription::linkText(link, CapPerPortLinkStatus, false),
              QStringLiteral("Down / Down"));
    EXPECT_EQ(DeviceDescription::linkText(link, CapPerPortLinkStatus, true),
              QStringLiteral("Link Down"));

    link.ports[0] = port(NETTLEBEAM_LINK_SPEED_1000M);
    link.ports[1] = port(NETTLEBEAM_LINK_SPEED_100M, 1);
    EXPECT_EQ(DeviceDescription::linkText(link, CapPerPortLinkStatus, false),
              QStringLiteral("1Gbps FDX / 100Mbps HDX"));
    EXPECT_EQ(DeviceDescription::linkText(link, 0, false),
              QStringLiteral("Link Up 1Gbps Full Duplex"));
    link.ports[0] = port(NETTLEBEAM_LINK_SPEED_10M, 1);
    EXPECT_EQ(DeviceDescription::linkText(link, 0, false),
              QStringLiteral("Link Up 10Mbps Half Duplex"));
    for (int32_t code : {4, 6, -1}) {
        link.ports[0] = port(code);
        EXPECT_EQ(DeviceDescription::singleLinkText(link.ports[0]),
                  QStringLiteral("Link State Unknown"))
            << code;
        EXPECT_EQ(DeviceDescription::portLinkText(link.ports[0]), QStringLiteral("Unknown"))
            << code;
    }
    link.sfp[0].present = 1;
    EXPECT_EQ(DeviceDescription::moduleText(link),
              QStringLiteral("Module Present / Module Absent"));
}

TEST(AvailableMemoryText, ReadsMemAvailableOnly) {
    EXPECT_EQ(AvailableMemory::fromMeminfo(
                  QStringLiteral("MemTotal: 100 kB\nMemAvailable:    2048 kB\n")),
              2097152u);
    EXPECT_EQ(AvailableMemory::fromMeminfo(QStringLiteral("MemFree: 5 kB\n")), 0u);
    EXPECT_EQ(
        AvailableMemory::fromMeminfo(QStringLiteral("MemAvailable: 99999999999999999999 kB\n")),
        0u);
    EXPECT_GT(AvailableMemory::bytes(), 0u);
}

class SettingsTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(folder_.isValid());
        QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, folder_.path());
        settings_ = std::make_unique<ManagerSettings>();
    }
    // Writes raw text into the store's file, as a hand-edited or damaged file.
    void writeFile(const QByteArray& text) {
        settings_.reset();
        ASSERT_TRUE(QDir(folder_.path()).mkpath(QStringLiteral("Hollyfen")));
        QFile file(folder_.path() + QStringLiteral("/Hollyfen/NettlebeamManager.conf"));
        ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        file.write(text);
        file.close();
        settings_ = std::make_unique<ManagerSettings>();
    }

    QTemporaryDir folder_;
    std::unique_ptr<ManagerSettings> settings_;
};

TEST_F(SettingsTest, NamesAreKeptPerMacAndABadMacNeverReachesTheStore) {
    const QString mac = QStringLiteral("02:0a:ff:00:10:9b");
    EXPECT_TRUE(settings_->fileName().endsWith(QStringLiteral("Hollyfen/NettlebeamManager.conf")));
    EXPECT_EQ(settings_->friendlyName(mac), QStringLiteral("Nettlebeam"));
    settings_->storeFriendlyName(mac, QStringLiteral("Rack 3 uplink"));
    settings_->storeFriendlyName(QStringLiteral("02:0a:ff:00:10"), QStringLiteral("never"));
    EXPECT_EQ(settings_->friendlyName(QStringLiteral("02:0a:ff:00:10")),
              QStringLiteral("Bad MAC address"));

    // Written through to disk at once, under the key without colons.
    QSettings onDisk(settings_->fileName(), QSettings::IniFormat);
    EXPECT_EQ(onDisk.value(QStringLiteral("DeviceConfig/020aff00109b/FriendlyName")).toString(),
              QStringLiteral("Rack 3 uplink"));
    EXPECT_EQ(onDisk.childGroups(), QStringList{QStringLiteral("DeviceConfig")});
    EXPECT_EQ(onDisk.allKeys().size(), 1);
}

TEST_F(SettingsTest, CountersRoundTripAndAFreshDeviceHasDontCareCounters) {
    const QString mac = QStringLiteral("02:0a:ff:00:10:9b");
    const CounterConfigs fresh = *settings_->loadCounters(mac);
    for (int n = 0; n < kProgrammableCounters; ++n) {
        EXPECT_EQ(fresh[n].index, n);
        EXPECT_EQ(fresh[n].isIPv4, -1);
        EXPECT_EQ(fresh[n].isDropped, -1);
        EXPECT_EQ(fresh[n].sizeMode, -1);
        EXPECT_EQ(fresh[n].mode, 0);
        EXPECT_EQ(fresh[n].ip[0] | fresh[n].ipMask[15] | fresh[n].port1, 0);
    }
    StoredCounter counter;
    counter.config = fresh[7];
    counter.config.istcp = 1;
    counter.config.isudp = 0;
    counter.config.size = 1500;
    counter.config.sizeMode = 2;
    counter.config.ip[0] = 0xc0;
    counter.config.ip[15] = 0x0a;
    counter.config.ipMask[0] = 0xff;
    counter.config.port2 = 1;
    counter.config.mode = 1;
    counter.hidden = true;
    settings_->storeCounters(mac, {counter});

    QSettings onDisk(settings_->fileName(), QSettings::IniFormat);
    const QString group = QStringLiteral("DeviceConfig/020aff00109b/StatsV2/counter7/");
    EXPECT_EQ(onDisk.value(group + "ip").toString(),
              QStringLiteral("c0 00 00 00 00 00 00 00 00 00 00 00 00 00 00 0a"));
    EXPECT_EQ(onDisk.value(group + "hidden").toInt(), 1);

    const CounterConfigs loaded = *settings_->loadCounters(mac);
    EXPECT_EQ(std::memcmp(&loaded[7], &counter.config, sizeof counter.config), 0);
    EXPECT_EQ(loaded[6].istcp, -1);
    EXPECT_FALSE(settings_->loadCounters(QStringLiteral("bad")));
}

TEST_F(SettingsTest, GarbageInTheFileReadsAsZeroClampedAndAMalformedAddressAsZeros) {
    writeFile(
        "[DeviceConfig]\n"
        "020aff00109b\\StatsV2\\counter0\\isIPv4=7\n"
        "020aff00109b\\StatsV2\\counter0\\isIPv6=banana\n"
        "020aff00109b\\StatsV2\\counter0\\sizeMode=3\n"
        "020aff00109b\\StatsV2\\counter0\\mode=-4\n"
        "020aff00109b\\StatsV2\\counter0\\size=12x\n"
        "020aff00109b\\StatsV2\\counter0\\port1=1, 2\n"
        "020aff00109b\\StatsV2\\counter0\\ip=c0 a8 00 01 00 00 00 00 00 00 00 00 00 00 00\n"
        "020aff00109b\\StatsV2\\counter0\\ipMask=ff ff zz ff ff ff ff ff ff ff ff ff ff ff ff ff\n"
        "020aff00109b\\StatsV2\\counter0\\istcp=1\n");
    const CounterConfigs loaded = *settings_->loadCounters(QStringLiteral("02:0a:ff:00:10:9b"));
    const NettlebeamApiCounterV2& c = loaded[0];
    EXPECT_EQ(c.isIPv4, -1);  // out of range
    EXPECT_EQ(c.isIPv6, 0);   // unreadable: 0, which is in range
    EXPECT_EQ(c.sizeMode, -1);
    EXPECT_EQ(c.mode, 0);
    EXPECT_EQ(c.size, 0);
    EXPECT_EQ(c.port1, 0);
    EXPECT_EQ(c.istcp, 1);
    const uint8_t zero[16] = {};
    EXPECT_EQ(std::memcmp(c.ip, zero, 16), 0);  // fifteen groups
    EXPECT_EQ(c.ipMask[0], 0xff);
    EXPECT_EQ(c.ipMask[2], 0x00);  // an unreadable group
    EXPECT_EQ(c.ipMask[15], 0xff);
}

TEST_F(SettingsTest, TheFileHoldingTheTokenStaysReadableByItsOwnerOnly) {
    auto mode = [&] {
        struct stat info {};
        EXPECT_EQ(::stat(QFile::encodeName(settings_->fileName()).constData(), &info), 0);
        return info.st_mode & 0777;
    };
    const mode_t umaskBefore = ::umask(022);
    settings_.reset();
    QFile::remove(folder_.path() + QStringLiteral("/Hollyfen/NettlebeamManager.conf"));
    settings_ = std::make_unique<ManagerSettings>();
    settings_->storeFriendlyName(QStringLiteral("02:0a:ff:00:10:9b"), QStringLiteral("first"));
    EXPECT_EQ(mode(), 0600u);  // a new file, after Qt's atomic rewrite
    // A file left readable by an earlier version is closed at start.
    writeFile("[DeviceConfig]\n");
    QFile::setPermissions(settings_->fileName(), QFile::ReadOwner | QFile::WriteOwner |
                                                     QFile::ReadGroup | QFile::ReadOther);
    settings_ = std::make_unique<ManagerSettings>();
    settings_->store()->setValue(QStringLiteral("Cloudshark/Token"), QStringLiteral("secret"));
    settings_->store()->sync();
    EXPECT_EQ(mode(), 0600u);

    // Under a umask that takes nothing away, the folders made for the store
    // are still its owner's alone.
    settings_.reset();
    ASSERT_TRUE(QDir(folder_.filePath(QStringLiteral("Hollyfen"))).removeRecursively());
    const QString deeper = folder_.filePath(QStringLiteral("config"));
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, deeper);
    ::umask(0);
    settings_ = std::make_unique<ManagerSettings>();
    settings_->storeFriendlyName(QStringLiteral("02:0a:ff:00:10:9b"), QStringLiteral("first"));
    ::umask(umaskBefore);
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, folder_.path());
    for (const QString& made : {deeper, deeper + QStringLiteral("/Hollyfen")}) {
        struct stat info {};
        ASSERT_EQ(::lstat(QFile::encodeName(made).constData(), &info), 0);
        EXPECT_EQ(info.st_mode & 07777, 0700u) << made.toStdString();
    }
    EXPECT_EQ(mode(), 0600u);
}
