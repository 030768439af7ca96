// Configuration, filters and counter definitions: stored as written, saved
// for power-on, and kept across a new device object on the same state folder.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "request_codes.h"
#include "sim_test_support.h"

namespace nettlebeam::driver::simtest {
namespace {

namespace code = wire::code;
namespace fs = std::filesystem;

class StateFolder : public ::testing::Test {
  protected:
    void SetUp() override {
        char pattern[] = "/tmp/sim-state-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        dir = pattern;
    }
    void TearDown() override { fs::remove_all(dir); }
    std::string dir;
};

std::vector<uint8_t> configWith(std::vector<uint8_t> block, size_t word, uint32_t value) {
    auto bytes = u32(value);
    std::copy(bytes.begin(), bytes.end(), block.begin() + 4 * word);
    return block;
}

std::vector<uint8_t> dpiBlock(uint8_t firstPatternByte, bool enabled) {
    std::vector<uint8_t> block(224, 0);
    block[0] = firstPatternByte;
    block[32] = 0xFF;  // mask of the first eight bytes
    block[216] = 1;
    block[220] = enabled ? 1 : 0;
    return block;
}

TEST_F(StateFolder, ConfigurationReadsBackEveryBitWritten) {
    Bench bench(0x4D, dir);
    auto original = bench.request(code::kReadConfiguration, {}, 32);
    ASSERT_TRUE(original.ok);
    // Device-owned words and bits the library does not interpret included.
    auto written = configWith(configWith(original.bytes, 7, 0xDEADBEEF), 3, 0x12345678);
    written = configWith(written, 0, 0x80000000 | le32(original.bytes, 0));
    ASSERT_TRUE(bench.request(code::kWriteConfiguration, written).ok);
    EXPECT_EQ(bench.request(code::kReadConfiguration, {}, 32).bytes, written);
}

TEST_F(StateFolder, ConfigurationWritesThatTheDeviceCannotTakeChangeNothing) {
    Bench bench(0x4D, dir);
    auto original = bench.request(code::kReadConfiguration, {}, 32).bytes;
    std::vector<uint8_t> shortBlock(original.begin(), original.end() - 1);
    EXPECT_FALSE(bench.request(code::kWriteConfiguration, shortBlock).ok);
    // Initialisation source 0x1C does not exist; image index 1 on a one-image device.
    EXPECT_FALSE(bench.request(code::kWriteConfiguration, configWith(original, 2, 0x1C)).ok);
    EXPECT_FALSE(bench.request(code::kWriteConfiguration, configWith(original, 4, 1u << 16)).ok);
    EXPECT_EQ(bench.request(code::kReadConfiguration, {}, 32).bytes, original);
    // The ten-gigabit device holds two images and takes index 1.
    Bench ten(0x4F, dir);
    auto tenBlock = ten.request(code::kReadConfiguration, {}, 32).bytes;
    EXPECT_TRUE(ten.request(code::kWriteConfiguration, configWith(tenBlock, 4, 1u << 16)).ok);
}

TEST_F(StateFolder, SavedConfigurationComesBackAtPowerOnAndInANewDaemon) {
    std::vector<uint8_t> saved, unsaved;
    {
        Bench bench(0x10, dir);
        auto block = bench.request(code::kReadConfiguration, {}, 32).bytes;
        saved = configWith(block, 5, 0xA5A5A5A5);
        ASSERT_TRUE(bench.request(code::kWriteConfiguration, saved).ok);
        ASSERT_TRUE(bench.request(code::kSaveConfiguration).ok);
        unsaved = configWith(block, 5, 0x5A5A5A5A);
        ASSERT_TRUE(bench.request(code::kWriteConfiguration, unsaved).ok);
        EXPECT_EQ(bench.request(code::kReadConfiguration, {}, 32).bytes, unsaved);
        bench.device().powerOn();
        EXPECT_EQ(bench.request(code::kReadConfiguration, {}, 32).bytes, saved);
    }
    Bench again(0x10, dir);  // same identifier and handle: the same MAC
    EXPECT_EQ(again.request(code::kReadConfiguration, {}, 32).bytes, saved);
    Bench other(0x4D, dir);  // another device keeps its factory settings
    EXPECT_NE(other.request(code::kReadConfiguration, {}, 32).bytes, saved);
}

TEST_F(StateFolder, AStateFolderThatCannotBeWrittenFailsTheSaveAndKeepsThePowerOnCopy) {
    Bench bench(0x4D, dir + "/missing/folder");
    auto factory = bench.request(code::kReadConfiguration, {}, 32).bytes;
    auto changed = configWith(factory, 6, 1);
    ASSERT_TRUE(bench.request(code::kWriteConfiguration, changed).ok);
    testing::internal::CaptureStderr();
    EXPECT_FALSE(bench.request(code::kSaveConfiguration).ok);
    EXPECT_NE(testing::internal::GetCapturedStderr().find("cannot write device state"),
              std::string::npos);
    // Still running with the change, but power-on brings the factory block.
    EXPECT_EQ(bench.request(code::kReadConfiguration, {}, 32).bytes, changed);
    bench.device().powerOn();
    EXPECT_EQ(bench.request(code::kReadConfiguration, {}, 32).bytes, factory);
}

TEST_F(StateFolder, AMalformedStateFileIsReportedAndIgnored) {
    {
        Bench bench(0x4D, dir);
        ASSERT_TRUE(bench.request(code::kSaveConfiguration).ok);
    }
    auto files = std::distance(fs::directory_iterator(dir), fs::directory_iterator());
    ASSERT_EQ(files, 1);
    auto path = fs::directory_iterator(dir)->path();
    std::ofstream(path) << "nettlebeam-device-state 1\nconfiguration 12zz\n";
    testing::internal::CaptureStderr();
    Bench bench(0x4D, dir);
    EXPECT_TRUE(bench.request(code::kReadConfiguration, {}, 32).ok);
    EXPECT_NE(testing::internal::GetCapturedStderr().find("malformed"), std::string::npos);
}

TEST_F(StateFolder, FiltersAreStoredAsWrittenAndSavedOneByOne) {
    std::vector<uint8_t> packet(248, 0);
    packet[0] = 1;
    packet[4] = 1;
    packet[8] = 0x00;
    packet[13] = 0x5E;
    packet[56] = 0x3F;  // care about the destination MAC
    packet[64] = 0x02;  // destination MAC used
    const std::vector<uint8_t> types = {0x71, 0x00, 0x00, 0x9C, 0xFF, 0xFF, 0xFF, 0x5F};
    {
        Bench bench(0x4F, dir);
        ASSERT_TRUE(bench.request(code::kWriteDpiFilter, dpiBlock('G', true)).ok);
        ASSERT_TRUE(bench.request(code::kWritePacketFilter, packet).ok);
        ASSERT_TRUE(bench.request(code::kWritePacketTypeFilter, types).ok);
        EXPECT_EQ(bench.request(code::kReadDpiFilter, {}, 224).bytes, dpiBlock('G', true));
        EXPECT_EQ(bench.request(code::kReadPacketFilter, {}, 248).bytes, packet);
        EXPECT_EQ(bench.request(code::kReadPacketTypeFilter, {}, 8).bytes, types);
        ASSERT_TRUE(bench.request(code::kSaveDpiFilter).ok);
        ASSERT_TRUE(bench.request(code::kSavePacketTypeFilter).ok);
        // The packet filter is not saved: power-on brings the open filter.
    }
    Bench bench(0x4F, dir);
    EXPECT_EQ(bench.request(code::kReadDpiFilter, {}, 224).bytes, dpiBlock('G', true));
    EXPECT_EQ(bench.request(code::kReadPacketTypeFilter, {}, 8).bytes, types);
    auto open = bench.request(code::kReadPacketFilter, {}, 248).bytes;
    EXPECT_EQ(open[0], 1);
    EXPECT_EQ(open[4], 0);
}

TEST_F(StateFolder, MalformedFilterBlocksAreRefused) {
    Bench bench(0x4F, dir);
    auto before = bench.request(code::kReadDpiFilter, {}, 224).bytes;
    auto dpi = dpiBlock('x', true);
    dpi[100] = 1;  // must be zero
    EXPECT_FALSE(bench.request(code::kWriteDpiFilter, dpi).ok);
    dpi = dpiBlock('x', true);
    dpi[220] = 2;  // enabled is 0 or 1
    EXPECT_FALSE(bench.request(code::kWriteDpiFilter, dpi).ok);
    EXPECT_FALSE(bench.request(code::kWriteDpiFilter, std::vector<uint8_t>(223, 0)).ok);
    EXPECT_EQ(bench.request(code::kReadDpiFilter, {}, 224).bytes, before);

    std::vector<uint8_t> packet(248, 0);
    EXPECT_FALSE(bench.request(code::kWritePacketFilter, packet).ok);  // no block tag
    // The packet-type word keeps the bits that stand for no class set.
    EXPECT_FALSE(bench.request(code::kWritePacketTypeFilter, std::vector<uint8_t>(8, 0)).ok);
}

TEST(SimulatedCounters, DefinitionsAreStoredByIndexUpToFifteen) {
    Bench bench(0x4F);
    std::vector<uint8_t> block(30, 0);
    block[0] = 9;
    block[1] = 0x07;   // bytes on both ports
    block[2] = 0x40;   // size 64
    block[4] = 0x80;   // IPv4
    block[22] = 0x01;  // less than
    block[23] = 0x02;  // IPv4 tested
    block[6] = 10;
    block[24] = 0x04;  // first pattern byte compared
    ASSERT_TRUE(bench.request(code::kWriteCounter, block).ok);
    EXPECT_EQ(bench.request(code::kReadCounter, u32(9), 30).bytes, block);
    EXPECT_NE(bench.request(code::kReadCounter, u32(8), 30).bytes, block);

    EXPECT_FALSE(bench.request(code::kReadCounter, u32(16), 30).ok);
    EXPECT_FALSE(bench.request(code::kReadCounter, {9}, 30).ok);
    block[0] = 16;
    EXPECT_FALSE(bench.request(code::kWriteCounter, block).ok);
    block[0] = 9;
    block[29] = 1;  // reserved
    EXPECT_FALSE(bench.request(code::kWriteCounter, block).ok);
    EXPECT_EQ(bench.request(code::kReadCounter, u32(9), 30).bytes[29], 0);
}

}  // namespace
}  // namespace nettlebeam::driver::simtest
