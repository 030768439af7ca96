// Reading the firmware catalogue and deciding on updates.
#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include "firmwareimage.h"
#include "firmwarestash.h"

namespace {

// A firmware folder with a catalogue and the image files it names.
class CatalogueFolder {
  public:
    void addImage(const QString& name) {
        QFile file(dir_.filePath(name));
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write("image");
    }
    void writeCatalogue(const QByteArray& xml) {
        QFile file(dir_.filePath(QStringLiteral("firmware.xml")));
        ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        file.write(xml);
    }
    QString path() const { return dir_.path(); }
    QString imagePath(const QString& name) const { return dir_.filePath(name); }

  private:
    QTemporaryDir dir_;
};

NettlebeamApiVersions deviceVersions(std::array<uint8_t, 4> sw, uint32_t hw) {
    NettlebeamApiVersions versions{};
    std::copy(sw.begin(), sw.end(), versions.swFirmwareVersion);
    versions.hwFirmwareVersion = hw;
    return versions;
}

using Version = std::array<uint8_t, 4>;

}  // namespace

TEST(FirmwareCatalogue, ReadsDevicesUnderEachOfTheirTypes) {
    CatalogueFolder folder;
    folder.addImage(QStringLiteral("gen2.bin"));
    folder.addImage(QStringLiteral("old.bin"));
    folder.writeCatalogue(R"(<?xml version="1.0"?>
<devices>
  <device><name>Old</name><file>old.bin</file><type>8</type><type>13</type>
    <swversion>1.0.0.0</swversion></device>
  <device>
    <type>5</type>
    <name>Gen 2 firmware</name>
    <hwversion>210</hwversion>
    <file>gen2.bin</file>
    <type>8</type>
    <swversion>1.2.300.x</swversion>
    <hwversion>305</hwversion>
  </device>
  <device><name>Missing</name><file>missing.bin</file><type>11</type></device>
</devices>)");
    FirmwareStash stash(folder.path());
    ASSERT_TRUE(stash.Refresh());
    EXPECT_EQ(stash.size(), 3);

    for (int32_t type : {5, 8}) {
        const FirmwareStashEntry entry = stash.entryForType(type);
        EXPECT_EQ(entry.type, type);
        EXPECT_EQ(entry.name, QStringLiteral("Gen 2 firmware"));
        EXPECT_EQ(entry.file, folder.imagePath(QStringLiteral("gen2.bin")));
        // 300 keeps its low 8 bits (44); a non-number counts as 0.
        EXPECT_EQ(entry.swVersion, (Version{1, 2, 44, 0}));
        EXPECT_EQ(entry.hwVersions, (QList<uint32_t>{210, 305}));
    }
    EXPECT_EQ(stash.entryForType(13).name, QStringLiteral("Old"));  // not replaced
    EXPECT_EQ(stash.entryForType(11).type, -1);                     // image missing
    EXPECT_EQ(stash.entryForType(11).name, QString());
}

TEST(FirmwareCatalogue, KeepsWhatWasReadBeforeAStrayElementOrMalformedXml) {
    CatalogueFolder folder;
    folder.addImage(QStringLiteral("a.bin"));
    FirmwareStash stash(folder.path());

    folder.writeCatalogue(R"(<devices>
  <device><file>a.bin</file><type>3</type><swversion>1.2.3</swversion>
    <name>Before</name><bogus/><name>After</name></device>
  <device><file>a.bin</file><type>4</type></device>
</devices>)");
    ASSERT_TRUE(stash.Refresh());
    EXPECT_EQ(stash.entryForType(3).name, QStringLiteral("Before"));
    EXPECT_EQ(stash.entryForType(3).swVersion, (Version{0, 0, 0, 0}));  // three parts
    EXPECT_EQ(stash.entryForType(4).type, -1);

    FirmwareStash beside(folder.path());
    folder.writeCatalogue(R"(<devices>
  <device><file>a.bin</file><type>6</type></device>
  <other/>
  <device><file>a.bin</file><type>7</type></device>
</devices>)");
    ASSERT_TRUE(beside.Refresh());
    EXPECT_EQ(beside.entryForType(6).type, 6);
    EXPECT_EQ(beside.entryForType(7).type, -1);

    FirmwareStash malformed(folder.path());
    folder.writeCatalogue(R"(<devices>
  <device><file>a.bin</file><type>9</type></device>
  <device><file>a.bin</file><type>10</type><name>broken</nam></device>
  <device><file>a.bin</file><type>12</type></device>)");
    ASSERT_TRUE(malformed.Refresh());
    EXPECT_EQ(malformed.entryForType(9).type, 9);
    EXPECT_EQ(malformed.entryForType(10).type, 10);  // complete before the error
    EXPECT_EQ(malformed.entryForType(10).name, QString());
    EXPECT_EQ(malformed.entryForType(12).type, -1);
}

TEST(FirmwareCatalogue, OtherRootsGiveAnEmptyCatalogueAndAMissingFileKeepsTheOldOne) {
    CatalogueFolder folder;
    folder.addImage(QStringLiteral("a.bin"));
    folder.writeCatalogue("<firmware><device><file>a.bin</file><type>5</type></device></firmware>");
    FirmwareStash other(folder.path());
    EXPECT_TRUE(other.Refresh());
    EXPECT_EQ(other.size(), 0);

    folder.writeCatalogue("<devices><device><file>a.bin</file><type>5</type></device></devices>");
    FirmwareStash stash(folder.path());
    ASSERT_TRUE(stash.Refresh());
    ASSERT_TRUE(QFile::remove(folder.path() + QStringLiteral("/firmware.xml")));
    EXPECT_FALSE(stash.Refresh());
    EXPECT_EQ(stash.entryForType(5).type, 5);

    EXPECT_FALSE(FirmwareStash(folder.path() + QStringLiteral("/nowhere")).Refresh());
}

TEST(FirmwareUpdateDecision, NewerSoftwareWinsElseTheHardwareSlotDecides) {
    CatalogueFolder folder;
    folder.addImage(QStringLiteral("a.bin"));
    folder.writeCatalogue(R"(<devices>
  <device><file>a.bin</file><type>11</type><swversion>1.2.3.4</swversion>
    <hwversion>210</hwversion><hwversion>305</hwversion></device>
  <device><file>a.bin</file><type>5</type><swversion>1.2.4.0</swversion></device>
  <device><file>a.bin</file><type>200</type><swversion>0.0.0.0</swversion></device>
</devices>)");
    FirmwareStash stash(folder.path());
    ASSERT_TRUE(stash.Refresh());

    const auto same = deviceVersions({1, 2, 3, 4}, 300);
    EXPECT_TRUE(stash.isUpdateAvailable(11, same, 1));   // 305 > 300
    EXPECT_FALSE(stash.isUpdateAvailable(11, same, 0));  // 210 < 300
    EXPECT_FALSE(stash.isUpdateAvailable(11, same, 2));  // no such slot
    EXPECT_FALSE(stash.isUpdateAvailable(11, deviceVersions({1, 2, 3, 4}, 305), 1));
    // An older component decides nothing: the hardware slot still does.
    EXPECT_TRUE(stash.isUpdateAvailable(11, deviceVersions({1, 3, 0, 0}, 300), 1));
    EXPECT_FALSE(stash.isUpdateAvailable(11, deviceVersions({1, 3, 0, 0}, 300), 0));
    // Components compare as unsigned bytes.
    EXPECT_FALSE(stash.isUpdateAvailable(11, deviceVersions({1, 2, 3, 200}, 999), 1));

    EXPECT_TRUE(stash.isUpdateAvailable(5, deviceVersions({1, 2, 3, 9}, 999), 7));
    EXPECT_FALSE(stash.isUpdateAvailable(5, deviceVersions({1, 2, 4, 0}, 0), 0));
    EXPECT_FALSE(stash.isUpdateAvailable(6, deviceVersions({0, 0, 0, 0}, 0), 0));
    EXPECT_FALSE(stash.isUpdateAvailable(200, deviceVersions({0, 0, 0, 0}, 0), 0));
}

TEST(ShippedFirmwareCatalogue, OffersAValidImageToEveryTaggedType) {
    FirmwareStash stash(QStringLiteral(SHIPPED_FIRMWARE_DIR));
    ASSERT_TRUE(stash.Refresh());
    const auto factory = deviceVersions({1, 0, 0, 0}, 300);
    for (uint32_t type : firmwareimage::taggedDeviceTypes()) {
        const FirmwareStashEntry entry = stash.entryForType(int32_t(type));
        ASSERT_EQ(entry.type, int32_t(type));
        EXPECT_FALSE(entry.name.isEmpty());
        EXPECT_TRUE(stash.isUpdateAvailable(type, factory, 0)) << type;

        QFile image(entry.file);
        ASSERT_TRUE(image.open(QIODevice::ReadOnly)) << entry.file.toStdString();
        const QByteArray bytes = image.readAll();
        EXPECT_EQ(firmwareimage::checkImageFile(firmwareimage::Bytes(bytes.begin(), bytes.end()),
                                                firmwareimage::tagForDeviceType(type)),
                  "")
            << entry.file.toStdString();
        // What the images install is what the catalogue announces.
        ASSERT_GT(entry.hwVersions.size(), 0);
        const uint32_t hw = entry.hwVersions[0];
        const QByteArray head =
            QByteArray("NBFC") +
            QByteArray(reinterpret_cast<const char*>(entry.swVersion.data()), 4) +
            QByteArray(1, char(hw)) + QByteArray(1, char(hw >> 8)) + QByteArray(1, char(hw >> 16)) +
            QByteArray(1, char(hw >> 24));
        EXPECT_EQ(bytes.mid(16, 12), head) << type;
    }
    EXPECT_EQ(stash.entryForType(14).type, -1);
}
