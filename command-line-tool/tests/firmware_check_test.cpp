// The checks before a firmware file is sent that the daemon-backed tests do
// not reach: which image's versions count, what counts as newer, and the
// models that take any tag.
#include "firmware_check.h"

#include <gtest/gtest.h>

#include <vector>

namespace beamctl {
namespace {

namespace image_format = nettlebeam::firmware_format;

constexpr std::uint32_t kGen2Tag = 0x4B563750;  // "KV7P"

// A 64-byte image whose head announces `versions`.
std::vector<std::uint8_t> announcing(FirmwareVersions versions) {
    std::vector<std::uint8_t> image(64, 0x5A);
    const char magic[] = "NBFW";
    for (std::size_t i = 0; i < 4; ++i) {
        image[i] = static_cast<std::uint8_t>(magic[i]);
        image[4 + i] = versions.software[i];
        image[8 + i] = static_cast<std::uint8_t>(versions.hardware >> (8 * i));
    }
    return image;
}

const FirmwareVersions kRunning = {{1, 2, 0, 0}, 210};

TEST(FirmwarePlan, TheSecondImagesVersionsCountAsItIsProgrammedLast) {
    const auto file = image_format::buildFile(kGen2Tag, announcing({{1, 3, 0, 0}, 220}),
                                              announcing({{1, 1, 0, 0}, 200}));
    const FirmwarePlan plan = planFirmwareUpdate(file, DeviceTypeGigabitGen2, kRunning, false);
    ASSERT_TRUE(plan.to.has_value());
    EXPECT_EQ(*plan.to, (FirmwareVersions{{1, 1, 0, 0}, 200}));
    EXPECT_TRUE(plan.refusal.has_value()) << "older than the running 1.2.0.0 (hardware 210)";

    const std::vector<std::uint8_t> plain(64, 0x11);  // announces nothing
    const auto firstOnly =
        image_format::buildFile(kGen2Tag, announcing({{1, 3, 0, 0}, 220}), plain);
    const FirmwarePlan second =
        planFirmwareUpdate(firstOnly, DeviceTypeGigabitGen2, kRunning, false);
    EXPECT_EQ(second.to, (FirmwareVersions{{1, 3, 0, 0}, 220}));
    EXPECT_FALSE(second.refusal.has_value()) << *second.refusal;
}

// As the window offers an image: newer hardware firmware is enough, even
// with older software.
TEST(FirmwarePlan, NewerHardwareFirmwareAloneIsNewer) {
    const auto file = image_format::buildFile(kGen2Tag, announcing({{1, 1, 0, 0}, 211}), {});
    const FirmwarePlan plan = planFirmwareUpdate(file, DeviceTypeGigabitGen2, kRunning, false);
    EXPECT_FALSE(plan.refusal.has_value()) << *plan.refusal;
}

TEST(FirmwarePlan, UntaggedModelsTakeAnyTagButForceNeverPassesAnotherModel) {
    const auto newer = image_format::buildFile(0x51525A4D, announcing({{1, 3, 0, 0}, 210}), {});
    const FirmwarePlan untagged = planFirmwareUpdate(newer, DeviceTypeGigabitGen4, kRunning, false);
    EXPECT_FALSE(untagged.refusal.has_value()) << *untagged.refusal;
    const FirmwarePlan tagged = planFirmwareUpdate(newer, DeviceTypeGigabitGen2, kRunning, true);
    ASSERT_TRUE(tagged.refusal.has_value()) << "--force does not pass another model's file";
    EXPECT_EQ(*tagged.refusal,
              "the file is for Ten-Gigabit (image tag QRZM), the device is a Gigabit Gen2 "
              "(image tag KV7P)");
}

}  // namespace
}  // namespace beamctl
