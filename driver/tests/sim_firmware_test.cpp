// Firmware updates of the simulated devices: the begin/data/finish sequence
// of both images, programming progress, and the versions after a restart.
#include <gtest/gtest.h>
#include <zlib.h>

#include <filesystem>

#include "request_codes.h"
#include "sim_test_support.h"

namespace nettlebeam::driver::simtest {
namespace {

namespace code = wire::code;
namespace fs = std::filesystem;
using namespace std::chrono_literals;

struct ImageCodes {
    uint32_t begin, data, finish, progress;
};
constexpr ImageCodes kFirst{code::kFirmwareBegin1, code::kFirmwareData1, code::kFirmwareFinish1,
                            code::kFirmwareProgress1};
constexpr ImageCodes kSecond{code::kFirmwareBegin2, code::kFirmwareData2, code::kFirmwareFinish2,
                             code::kFirmwareProgress2};

// An image announcing software 2.1.0.7 and hardware firmware 310.
std::vector<uint8_t> versionedImage(size_t length) {
    std::vector<uint8_t> image(length, 0xA5);
    const uint8_t head[12] = {'N', 'B', 'F', 'W', 2, 1, 0, 7, 0x36, 0x01, 0, 0};
    std::copy(head, head + 12, image.begin());
    return image;
}

// An image whose head announces the CRC-32 of the rest (and software 3.0.0.1).
std::vector<uint8_t> checkedImage(size_t length) {
    std::vector<uint8_t> image(length);
    for (size_t i = 16; i < length; ++i) image[i] = static_cast<uint8_t>(i * 13);
    const uint8_t head[12] = {'N', 'B', 'F', 'C', 3, 0, 0, 1, 0x36, 0x01, 0, 0};
    std::copy(head, head + 12, image.begin());
    uint32_t crc =
        static_cast<uint32_t>(crc32(0, image.data() + 16, static_cast<uInt>(length - 16)));
    for (int i = 0; i < 4; ++i) image[12 + i] = static_cast<uint8_t>(crc >> (8 * i));
    return image;
}

// Sends the image as the library does, in blocks of at most 508 bytes.
bool upload(Bench& bench, const ImageCodes& c, const std::vector<uint8_t>& image) {
    if (!bench.request(c.begin, u32(static_cast<uint32_t>(image.size()))).ok) return false;
    for (size_t at = 0; at < image.size(); at += 508) {
        size_t n = std::min<size_t>(508, image.size() - at);
        if (!bench.request(c.data, {image.begin() + at, image.begin() + at + n}).ok) return false;
    }
    return bench.request(c.finish).ok;
}

std::optional<uint8_t> progress(Bench& bench, const ImageCodes& c) {
    auto reply = bench.request(c.progress, {}, 1);
    if (!reply.ok) return std::nullopt;
    EXPECT_EQ(reply.bytes.size(), 1u);
    return reply.bytes.at(0);
}

std::vector<uint8_t> versions(Bench& bench) {
    return bench.request(code::kVersions, {}, 12).bytes;
}

class FirmwareUpdate : public ::testing::Test {
  protected:
    void SetUp() override {
        char pattern[] = "/tmp/sim-firmware-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        dir = pattern;
    }
    void TearDown() override { fs::remove_all(dir); }
    std::string dir;
};

TEST_F(FirmwareUpdate, AGoodImageIsProgrammedAndRunsAfterTheRestart) {
    Bench bench(0x4F, dir);
    auto before = versions(bench);
    EXPECT_FALSE(progress(bench, kFirst).has_value()) << "nothing programmed yet";
    ASSERT_TRUE(upload(bench, kFirst, versionedImage(1016)));
    std::vector<uint8_t> seen;
    for (int i = 0; i < 40 && (seen.empty() || seen.back() != 255); ++i) {
        seen.push_back(progress(bench, kFirst).value_or(0));
        bench.run(100ms);
    }
    ASSERT_EQ(seen.back(), 255) << "programming ends within a few seconds";
    EXPECT_GT(seen.size(), 10u) << "and takes a while";
    EXPECT_TRUE(std::is_sorted(seen.begin(), seen.end()));
    EXPECT_EQ(versions(bench), before) << "the old firmware runs until the restart";

    ASSERT_TRUE(bench.request(code::kRestart).ok);
    ASSERT_EQ(bench.host.restarts.size(), 1u);
    EXPECT_EQ(bench.host.restarts[0].first, 7);
    EXPECT_EQ(bench.host.restarts[0].second, 2000ms);
    bench.device().powerOn();
    auto after = versions(bench);
    EXPECT_EQ(std::vector<uint8_t>(after.begin() + 4, after.end()),
              (std::vector<uint8_t>{7, 0, 1, 2, 0x36, 0x01, 0, 0}));
    EXPECT_EQ(std::vector<uint8_t>(after.begin(), after.begin() + 4),
              std::vector<uint8_t>(before.begin(), before.begin() + 4))
        << "the driver version is the host's";
    Bench nextDaemon(0x4F, dir);
    EXPECT_EQ(versions(nextDaemon), after) << "flash survives the daemon";
}

TEST_F(FirmwareUpdate, ImagesOfWrongLengthAreRefused) {
    Bench bench(0x4F, dir);
    // Short: finish fails and nothing is programmed.
    ASSERT_TRUE(bench.request(kFirst.begin, u32(100)).ok);
    ASSERT_TRUE(bench.request(kFirst.data, std::vector<uint8_t>(50, 1)).ok);
    EXPECT_FALSE(bench.request(kFirst.finish).ok);
    EXPECT_FALSE(progress(bench, kFirst).has_value());
    // Too long: the block that overflows fails, and the image is abandoned.
    ASSERT_TRUE(bench.request(kFirst.begin, u32(100)).ok);
    ASSERT_TRUE(bench.request(kFirst.data, std::vector<uint8_t>(60, 1)).ok);
    EXPECT_FALSE(bench.request(kFirst.data, std::vector<uint8_t>(60, 1)).ok);
    EXPECT_FALSE(bench.request(kFirst.data, std::vector<uint8_t>(40, 1)).ok);
    EXPECT_FALSE(bench.request(kFirst.finish).ok);
    // Out of order, malformed blocks and lengths.
    EXPECT_FALSE(bench.request(kSecond.finish).ok) << "finish without begin";
    EXPECT_FALSE(bench.request(kSecond.data, {1, 2, 3}).ok) << "data without begin";
    EXPECT_FALSE(bench.request(kSecond.begin, u32(0)).ok);
    EXPECT_FALSE(bench.request(kSecond.begin, {1, 0}).ok);
    ASSERT_TRUE(bench.request(kSecond.begin, u32(2000)).ok);
    EXPECT_FALSE(bench.request(kSecond.data, std::vector<uint8_t>(509, 1)).ok);
    EXPECT_FALSE(bench.request(kSecond.data, {}).ok);
    bench.run(5s);
    bench.device().powerOn();
    EXPECT_EQ(versions(bench)[4], 0) << "still the factory firmware 1.0.0.0";
    EXPECT_EQ(versions(bench)[7], 1);
}

// The device checks the blocks against the CRC the image's head announces:
// a corrupted, repeated or reordered block fails the finish and nothing is
// programmed.
TEST_F(FirmwareUpdate, BlocksThatDoNotMatchTheAnnouncedCrcFailTheFinish) {
    Bench bench(0x4F, dir);
    const std::vector<uint8_t> image = checkedImage(1524);  // three blocks of 508
    auto block = [&](int n) {
        return std::vector<uint8_t>(image.begin() + n * 508, image.begin() + (n + 1) * 508);
    };
    auto corrupted = block(1);
    corrupted[100] ^= 0x01;
    for (const auto& blocks :
         std::vector<std::vector<std::vector<uint8_t>>>{{block(0), corrupted, block(2)},
                                                        {block(0), block(1), block(1)},
                                                        {block(0), block(2), block(1)}}) {
        ASSERT_TRUE(bench.request(kFirst.begin, u32(1524)).ok);
        for (const auto& b : blocks) ASSERT_TRUE(bench.request(kFirst.data, b).ok);
        EXPECT_FALSE(bench.request(kFirst.finish).ok);
        EXPECT_FALSE(progress(bench, kFirst).has_value());
    }
    ASSERT_TRUE(upload(bench, kFirst, image));
    bench.run(3500ms);
    bench.device().powerOn();
    EXPECT_EQ(versions(bench)[7], 3) << "the intact image runs after the restart";
}

TEST_F(FirmwareUpdate, BothImagesProgramIndependentlyAndNotWhileBusy) {
    Bench bench(0x14, dir);
    ASSERT_TRUE(upload(bench, kFirst, std::vector<uint8_t>(509, 7)));
    EXPECT_FALSE(bench.request(kFirst.begin, u32(10)).ok) << "flash still being written";
    ASSERT_TRUE(upload(bench, kSecond, std::vector<uint8_t>(1, 7)));
    bench.run(3500ms);
    EXPECT_EQ(progress(bench, kFirst), 255);
    EXPECT_EQ(progress(bench, kSecond), 255);
    auto before = versions(bench);
    bench.device().powerOn();
    EXPECT_EQ(versions(bench), before) << "images without a version head keep the versions";
}

TEST_F(FirmwareUpdate, ADeviceWithBadFirmwareComesBackUsable) {
    Bench bench(0x4A, dir);
    EXPECT_FALSE(bench.request(code::kReadConfiguration, {}, 32).ok);
    ASSERT_TRUE(upload(bench, kFirst, versionedImage(2000)));
    bench.run(3500ms);
    bench.device().powerOn();
    EXPECT_EQ(bench.request(code::kHardwareId, {}, 1).bytes, std::vector<uint8_t>{0x4D});
    EXPECT_TRUE(bench.request(code::kReadConfiguration, {}, 32).ok);
    EXPECT_EQ(versions(bench)[7], 2);
}

TEST_F(FirmwareUpdate, RestartCarriesNoPayload) {
    Bench bench(0x50, dir);
    EXPECT_FALSE(bench.request(code::kRestart, {1}).ok);
    EXPECT_TRUE(bench.host.restarts.empty());
}

}  // namespace
}  // namespace nettlebeam::driver::simtest
