// The firmware image file layout and the tool that builds image files.
#include <gtest/gtest.h>
#include <zlib.h>

#include <QByteArray>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

#include "firmwareimage.h"

using firmwareimage::Bytes;

namespace {

uint32_t littleEndianAt(const Bytes& bytes, std::size_t offset) {
    return uint32_t(bytes[offset]) | uint32_t(bytes[offset + 1]) << 8 |
           uint32_t(bytes[offset + 2]) << 16 | uint32_t(bytes[offset + 3]) << 24;
}

Bytes pattern(std::size_t size, uint8_t seed) {
    Bytes bytes(size);
    for (std::size_t i = 0; i < size; ++i) bytes[i] = uint8_t(seed + i * 7);
    return bytes;
}

struct ToolRun {
    int exitCode;
    QString errors;
};

ToolRun runTool(const QStringList& arguments) {
    QProcess tool;
    tool.start(QStringLiteral(FIRMWARE_TOOL), arguments);
    tool.waitForFinished(10000);
    return {tool.exitStatus() == QProcess::NormalExit ? tool.exitCode() : -1,
            QString::fromLocal8Bit(tool.readAllStandardError())};
}

Bytes readFile(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) return {};
    const QByteArray data = file.readAll();
    return Bytes(data.begin(), data.end());
}

}  // namespace

TEST(FirmwareImageFile, HasTheHeaderTheDevicesCheck) {
    const Bytes first = pattern(1016, 1);
    const Bytes second = pattern(509, 2);
    const Bytes file =
        firmwareimage::buildImageFile(*firmwareimage::tagFromText("KV7P"), first, second);
    ASSERT_EQ(file.size(), 16u + 1016u + 509u);
    // The tag's characters are stored last character first.
    EXPECT_EQ(std::string(file.begin(), file.begin() + 4), "P7VK");
    const uint32_t crc =
        uint32_t(crc32(crc32(0, Z_NULL, 0), file.data() + 16, uInt(file.size() - 16)));
    EXPECT_EQ(littleEndianAt(file, 4), crc);
    EXPECT_EQ(littleEndianAt(file, 8), 1016u);
    EXPECT_EQ(littleEndianAt(file, 12), 509u);
    EXPECT_TRUE(std::equal(first.begin(), first.end(), file.begin() + 16));
    EXPECT_TRUE(std::equal(second.begin(), second.end(), file.begin() + 16 + 1016));
    EXPECT_EQ(firmwareimage::checkImageFile(file, firmwareimage::tagForDeviceType(9)), "");
}

TEST(FirmwareImageFile, CheckFindsEveryFaultADeviceRefuses) {
    const auto kv7f = firmwareimage::tagForDeviceType(3);
    const Bytes good = firmwareimage::buildImageFile(*kv7f, pattern(100, 3), {});
    EXPECT_EQ(firmwareimage::checkImageFile(good, kv7f), "");

    // The header declares one byte less than the file holds; the CRC is right.
    Bytes longer = firmwareimage::buildImageFile(*kv7f, pattern(101, 3), {});
    longer[8] = 100;
    EXPECT_EQ(firmwareimage::checkImageFile(longer, kv7f),
              "length differs from the header's image lengths");

    Bytes corrupted = good;
    corrupted[50] ^= 0x01;
    EXPECT_EQ(firmwareimage::checkImageFile(corrupted, kv7f), "CRC-32 mismatch");

    const Bytes otherType =
        firmwareimage::buildImageFile(*firmwareimage::tagForDeviceType(4), pattern(100, 3), {});
    EXPECT_EQ(firmwareimage::checkImageFile(otherType, kv7f), "wrong image tag");
    EXPECT_EQ(firmwareimage::checkImageFile(otherType, std::nullopt), "");  // untagged types

    EXPECT_EQ(firmwareimage::checkImageFile(Bytes(15, 0), std::nullopt),
              "shorter than its 16-byte header");
}

TEST(FirmwareImageFile, TagsFollowTheDeviceTypes) {
    EXPECT_EQ(firmwareimage::tagFromText("KV7P"), 0x4B563750u);
    EXPECT_FALSE(firmwareimage::tagFromText("KV7"));
    EXPECT_FALSE(firmwareimage::tagFromText(std::string("KV7\n")));
    for (uint32_t type : {5u, 8u, 9u, 10u})
        EXPECT_EQ(firmwareimage::tagForDeviceType(type), firmwareimage::tagFromText("KV7P"));
    EXPECT_EQ(firmwareimage::tagForDeviceType(6), firmwareimage::tagForDeviceType(7));
    EXPECT_EQ(firmwareimage::tagForDeviceType(13), firmwareimage::tagFromText("QFHD"));
    for (uint32_t type : {0u, 1u, 2u, 14u, 15u})
        EXPECT_FALSE(firmwareimage::tagForDeviceType(type));
    EXPECT_EQ(firmwareimage::taggedDeviceTypes().size(), 11u);
}

TEST(FirmwareImageTool, BuildsFilesFromImagesOrVersions) {
    QTemporaryDir dir;
    const QString first = dir.filePath(QStringLiteral("first.bin"));
    QFile input(first);
    ASSERT_TRUE(input.open(QIODevice::WriteOnly));
    input.write(QByteArray(600, 'x'));
    input.close();

    const QString fromFiles = dir.filePath(QStringLiteral("a.img"));
    ASSERT_EQ(runTool({"--output", fromFiles, "--type", "11", "--first", first}).exitCode, 0);
    const Bytes built = readFile(fromFiles);
    EXPECT_EQ(firmwareimage::checkImageFile(built, firmwareimage::tagForDeviceType(11)), "");
    EXPECT_EQ(littleEndianAt(built, 8), 600u);
    EXPECT_EQ(littleEndianAt(built, 12), 0u);

    const QString generated = dir.filePath(QStringLiteral("b.img"));
    ASSERT_EQ(runTool({"--output", generated, "--tag", "QFHD", "--hw-version", "310",
                       "--sw-version", "1.2.3.4"})
                  .exitCode,
              0);
    const Bytes versioned = readFile(generated);
    EXPECT_EQ(firmwareimage::checkImageFile(versioned, firmwareimage::tagForDeviceType(13)), "");
    // Both images announce the versions ("NBFC", software bytes, hardware LE)
    // and the CRC-32 of what follows their 16-byte head.
    const Bytes head{'N', 'B', 'F', 'C', 1, 2, 3, 4, 0x36, 0x01, 0, 0};
    const uint32_t firstLength = littleEndianAt(versioned, 8);
    const uint32_t secondLength = littleEndianAt(versioned, 12);
    ASSERT_GT(firstLength, 16u);
    ASSERT_GT(secondLength, 16u);
    ASSERT_EQ(versioned.size(), 16u + firstLength + secondLength);
    for (const auto& [offset, length] :
         {std::pair<std::size_t, uint32_t>{16, firstLength}, {16 + firstLength, secondLength}}) {
        const auto image = versioned.begin() + std::ptrdiff_t(offset);
        EXPECT_TRUE(std::equal(head.begin(), head.end(), image));
        const uLong crc = crc32(crc32(0, nullptr, 0), &*(image + 16), uInt(length - 16));
        EXPECT_EQ(littleEndianAt(versioned, offset + 12), uint32_t(crc)) << offset;
    }
}

TEST(FirmwareImageTool, RefusesBadCommandLinesWithoutWritingAFile) {
    QTemporaryDir dir;
    const QString out = dir.filePath(QStringLiteral("x.img"));
    const QList<QStringList> bad = {
        {"--output", out},
        {"--output", out, "--type", "14"},
        {"--output", out, "--type", "5", "--tag", "KV7P"},
        {"--output", out, "--tag", "KV7PX"},
        {"--output", out, "--type", "5", "--hw-version", "1", "--sw-version", "1.2.3"},
        {"--output", out, "--type", "5", "--hw-version", "1", "--sw-version", "1.2.3.4.5"},
        {"--output", out, "--type", "5", "--hw-version", "1", "--sw-version", "1.2.3.256"},
        {"--output", out, "--type", "5", "--hw-version", "-1", "--sw-version", "1.2.3.4"},
        {"--output", out, "--type", "5", "--sw-version", "1.2.3.4"},
        {"--output", out, "--type", "5", "--sw-version", "1.2.3.4", "--hw-version", "1", "--first",
         out},
        {"--output", out, "--type", "5", "--first", dir.filePath(QStringLiteral("missing"))},
        {"--output", out, "--type", "5", "--bogus", "1"},
        {"--output", out, "--type"},
    };
    for (const QStringList& arguments : bad) {
        const ToolRun run = runTool(arguments);
        EXPECT_EQ(run.exitCode, 2) << arguments.join(' ').toStdString();
        EXPECT_TRUE(run.errors.startsWith(QStringLiteral("nettlebeam-firmware-image: ")));
        EXPECT_FALSE(QFile::exists(out)) << arguments.join(' ').toStdString();
    }
}
