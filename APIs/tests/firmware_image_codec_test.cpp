#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "byte_order.h"
#include "codec/firmware_image.h"

namespace nettlebeam::codec {
namespace {

std::vector<uint8_t> imageFile(const char* tag, size_t firstLength, size_t secondLength) {
    std::vector<uint8_t> file(kFirmwareHeaderSize + firstLength + secondLength);
    // The tag's characters are stored last first.
    for (size_t i = 0; i < 4; ++i) file[i] = static_cast<uint8_t>(tag[3 - i]);
    wire::writeLe32(file, 8, static_cast<uint32_t>(firstLength));
    wire::writeLe32(file, 12, static_cast<uint32_t>(secondLength));
    for (size_t i = kFirmwareHeaderSize; i < file.size(); ++i) {
        file[i] = static_cast<uint8_t>(i * 7);
    }
    wire::writeLe32(file, 4, firmwareCrc32(std::span(file).subspan(kFirmwareHeaderSize)));
    return file;
}

TEST(FirmwareImage, ValidFileYieldsBothImages) {
    const auto file = imageFile("KV7F", 100, 30);
    const auto images = checkFirmwareImage(file, DeviceTypeGigabitGen1);
    ASSERT_EQ(images.status, 0);
    EXPECT_EQ(images.first.size(), 100u);
    EXPECT_EQ(images.first.data(), file.data() + 16);
    EXPECT_EQ(images.second.size(), 30u);
    EXPECT_EQ(images.second.data(), file.data() + 116);
}

TEST(FirmwareImage, CrcIsTheStandardOne) {
    const std::string text = "123456789";
    EXPECT_EQ(firmwareCrc32({reinterpret_cast<const uint8_t*>(text.data()), text.size()}),
              0xCBF43926u);
    EXPECT_EQ(firmwareCrc32({}), 0u);
}

TEST(FirmwareImage, TagsFollowTheDeviceType) {
    EXPECT_EQ(checkFirmwareImage(imageFile("KV7T", 4, 0), DeviceTypeGigabitGen1).status, -15);
    EXPECT_EQ(checkFirmwareImage(imageFile("KV7T", 4, 0), DeviceTypeGigabitGen1B).status, 0);
    EXPECT_EQ(checkFirmwareImage(imageFile("KV7P", 4, 0), DeviceTypeGigabitGen2GpsPoe).status, 0);
    EXPECT_EQ(checkFirmwareImage(imageFile("KV7W", 4, 0), DeviceTypeGigabitGen3Poe).status, 0);
    EXPECT_EQ(checkFirmwareImage(imageFile("KVTX", 4, 0), DeviceTypeTenGigabit).status, 0);
    EXPECT_EQ(checkFirmwareImage(imageFile("QRZM", 4, 0), DeviceTypeTenGigabitGps).status, 0);
    EXPECT_EQ(checkFirmwareImage(imageFile("QFHD", 4, 0), DeviceTypeFastEthernet).status, 0);
    EXPECT_EQ(checkFirmwareImage(imageFile("XXXX", 4, 0), DeviceTypeGigabitGen4).status, 0);
    EXPECT_EQ(checkFirmwareImage(imageFile("XXXX", 4, 0), DeviceTypeNone).status, 0);
    EXPECT_EQ(firmwareTag(DeviceTypeGigabitGen1), 0x4B563746u);
    EXPECT_FALSE(firmwareTag(99).has_value());
}

TEST(FirmwareImage, DamagedFilesAreRejected) {
    auto file = imageFile("KV7F", 10, 10);
    auto longer = file;
    longer.push_back(0);
    EXPECT_EQ(checkFirmwareImage(longer, DeviceTypeGigabitGen1).status, -15);
    auto shorter = file;
    shorter.pop_back();
    EXPECT_EQ(checkFirmwareImage(shorter, DeviceTypeGigabitGen1).status, -15);
    file[20] ^= 1;
    EXPECT_EQ(checkFirmwareImage(file, DeviceTypeGigabitGen1).status, -15);
    EXPECT_EQ(checkFirmwareImage(std::span(file).first(15), DeviceTypeNone).status, -15);
    // Lengths whose sum overflows 32 bits must not wrap around to the file size.
    auto huge = imageFile("KV7F", 0, 0);
    wire::writeLe32(huge, 8, 0xFFFFFFFF);
    wire::writeLe32(huge, 12, 1);
    EXPECT_EQ(checkFirmwareImage(huge, DeviceTypeGigabitGen1).status, -15);
    const auto images = checkFirmwareImage(huge, DeviceTypeGigabitGen1);
    EXPECT_TRUE(images.first.empty());
}

TEST(FirmwareImage, BlocksOf508Bytes) {
    const std::vector<uint8_t> image(1016, 1);
    auto blocks = firmwareBlocks(image);
    ASSERT_EQ(blocks.size(), 2u);
    EXPECT_EQ(blocks[1].size(), 508u);
    const std::vector<uint8_t> odd(509, 1);
    blocks = firmwareBlocks(odd);
    ASSERT_EQ(blocks.size(), 2u);
    EXPECT_EQ(blocks[0].size(), 508u);
    EXPECT_EQ(blocks[1].size(), 1u);
    EXPECT_EQ(blocks[1].data(), odd.data() + 508);
    EXPECT_TRUE(firmwareBlocks({}).empty());
}

TEST(FirmwareImage, ProgrammingProgressScales) {
    EXPECT_EQ(firstImageProgress(0), 10);
    EXPECT_EQ(firstImageProgress(50), 17);
    EXPECT_EQ(firstImageProgress(98), 24);
    EXPECT_EQ(secondImageProgress(50), 75);
    EXPECT_EQ(secondImageProgress(98), 99);
    for (int value : {99, 100, 200, 254, 255}) {
        EXPECT_FALSE(secondImageProgress(static_cast<uint8_t>(value)).has_value()) << value;
    }
}

}  // namespace
}  // namespace nettlebeam::codec
