// The firmware update worker: file checks, upload, programming progress.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <fstream>
#include <string>
#include <vector>

#include "library_fixture.h"

namespace nettlebeam::apitest {
namespace {

constexpr uint32_t kFirstImageData = 0xCB202410;
constexpr uint32_t kFirstImageProgress = 0xCB202418;
constexpr uint32_t kFinishSecondImage = 0xCB20240C;

uint32_t crc32(const std::vector<uint8_t>& bytes, size_t from) {
    uint32_t crc = 0xFFFFFFFF;
    for (size_t i = from; i < bytes.size(); ++i) {
        crc ^= bytes[i];
        for (int bit = 0; bit < 8; ++bit) crc = (crc >> 1) ^ (0xEDB88320 & (0u - (crc & 1)));
    }
    return ~crc;
}

void putLe32(std::vector<uint8_t>& bytes, size_t offset, uint32_t value) {
    for (int i = 0; i < 4; ++i) bytes[offset + i] = static_cast<uint8_t>(value >> (8 * i));
}

// A well-formed image file: `tag` is four characters, empty for none.
std::vector<uint8_t> imageFile(const std::string& tag, size_t first, size_t second) {
    std::vector<uint8_t> file(16 + first + second);
    for (size_t i = 16; i < file.size(); ++i) file[i] = static_cast<uint8_t>(i * 7);
    uint32_t tagValue = 0;
    for (char c : tag) tagValue = tagValue << 8 | static_cast<uint8_t>(c);
    putLe32(file, 0, tagValue);
    putLe32(file, 8, static_cast<uint32_t>(first));
    putLe32(file, 12, static_cast<uint32_t>(second));
    putLe32(file, 4, crc32(file, 16));
    return file;
}

class FirmwareUpdateTest : public LibraryTest {
  protected:
    std::u16string writeFile(const std::string& name, const std::vector<uint8_t>& bytes) {
        std::string path = daemon().folder() + "/" + name;
        std::ofstream(path, std::ios::binary)
            .write(reinterpret_cast<const char*>(bytes.data()),
                   static_cast<std::streamsize>(bytes.size()));
        return std::u16string(path.begin(), path.end());
    }

    // Polls until the update is no longer running; its final status.
    int32_t finish(int32_t handle, int32_t& progress, std::vector<int32_t>* seen = nullptr) {
        int32_t status = -13;
        eventually(
            [&] {
                status = NettlebeamAPIFirmwareUpdateGetProgress(handle, &progress);
                if (seen != nullptr && (seen->empty() || seen->back() != progress))
                    seen->push_back(progress);
                return status != -13;
            },
            std::chrono::seconds(60));
        return status;
    }
};

// First in this file: the state is per process and no update has run yet.
TEST_F(FirmwareUpdateTest, NothingToReportBeforeTheFirstUpdate) {
    int32_t handle = attachListed({"--type", "14"});
    int32_t progress = -1;
    EXPECT_EQ(NettlebeamAPIFirmwareUpdateGetProgress(handle, &progress), -16);
    EXPECT_EQ(progress, 0);
    EXPECT_EQ(NettlebeamAPIFirmwareUpdateGetProgress(handle + 100, &progress), -4);
}

TEST_F(FirmwareUpdateTest, TwoImagesAreUploadedAndProgrammed) {
    int32_t handle = attachListed({"--type", "14"});
    auto path = writeFile("both.bin", imageFile("ANY!", 1016, 509));
    ASSERT_EQ(NettlebeamAPIFirmwareUpdateStart(handle, path.c_str()), 0);
    EXPECT_EQ(NettlebeamAPIFirmwareUpdateStart(handle, path.c_str()), -12);
    int32_t progress = 0;
    std::vector<int32_t> seen;
    EXPECT_EQ(finish(handle, progress, &seen), 0);
    EXPECT_EQ(progress, 100);
    for (size_t i = 1; i < seen.size(); ++i) EXPECT_LE(seen[i - 1], seen[i]);
}

TEST_F(FirmwareUpdateTest, FilesThatFailTheirChecksSendNothing) {
    int32_t gen1 = attachListed({"--type", "3"});
    int32_t progress = 0;
    EXPECT_EQ(NettlebeamAPIFirmwareUpdateStart(gen1 + 100, u"/nonexistent"), -4);

    auto longer = imageFile("KV7F", 20, 0);
    longer.push_back(0);
    putLe32(longer, 4, crc32(longer, 16));
    // A failing first request would end the update with -1 if anything were sent.
    inject(gen1, 0xCB202400, {"--fail", "--times", "10"});
    for (const auto& [name, bytes] : std::vector<std::pair<std::string, std::vector<uint8_t>>>{
             {"long.bin", longer},
             {"tag.bin", imageFile("KV7T", 20, 0)},
             {"short.bin", std::vector<uint8_t>(15, 0)}}) {
        ASSERT_EQ(NettlebeamAPIFirmwareUpdateStart(gen1, writeFile(name, bytes).c_str()), 0);
        EXPECT_EQ(finish(gen1, progress), -15) << name;
        EXPECT_EQ(progress, 0) << name;
    }
    auto corrupt = imageFile("KV7F", 20, 0);
    corrupt[20] ^= 1;
    ASSERT_EQ(NettlebeamAPIFirmwareUpdateStart(gen1, writeFile("crc.bin", corrupt).c_str()), 0);
    EXPECT_EQ(finish(gen1, progress), -15);

    ASSERT_EQ(NettlebeamAPIFirmwareUpdateStart(gen1, u"/nonexistent/image.bin"), 0);
    EXPECT_EQ(finish(gen1, progress), -14);
    ASSERT_EQ(NettlebeamAPIFirmwareUpdateStart(gen1, nullptr), 0);
    EXPECT_EQ(finish(gen1, progress), -14);
}

// What cannot be read as an image ends the update with -14 and sends nothing:
// a directory, a device that never ends, a FIFO, a file larger than any
// image (sparse: it takes no disk), and a file that opens but fails to read.
// Tests run as root, which a mode of 000 does not stop; /proc/self/mem opens
// for root too, but reading it at offset 0 fails with EIO (page 0 is never
// mapped).
TEST_F(FirmwareUpdateTest, FilesThatCannotBeReadEndTheUpdateAsUnreadable) {
    int32_t handle = attachListed({"--type", "14"});
    inject(handle, 0xCB202400, {"--fail", "--times", "10"});
    std::string fifo = daemon().folder() + "/image.fifo";
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    std::string large = daemon().folder() + "/large.bin";
    {
        std::ofstream file(large, std::ios::binary);
        file.seekp(std::streamoff{1} << 30);
        file.put('\0');
    }
    int32_t progress = 0;
    for (const std::string& path : {daemon().folder(), std::string("/dev/zero"), fifo, large,
                                    std::string("/proc/self/mem")}) {
        std::u16string name(path.begin(), path.end());
        ASSERT_EQ(NettlebeamAPIFirmwareUpdateStart(handle, name.c_str()), 0) << path;
        EXPECT_EQ(finish(handle, progress), -14) << path;
        EXPECT_EQ(progress, 0) << path;
    }
}

TEST_F(FirmwareUpdateTest, AFailedUploadOrProgressRequestFailsTheUpdate) {
    int32_t handle = attachListed({"--type", "14"});
    auto path = writeFile("one.bin", imageFile("", 600, 0));
    int32_t progress = 0;
    inject(handle, kFirstImageData, {"--fail"});
    ASSERT_EQ(NettlebeamAPIFirmwareUpdateStart(handle, path.c_str()), 0);
    EXPECT_EQ(finish(handle, progress), -1);
    EXPECT_EQ(progress, 0);

    inject(handle, kFirstImageProgress, {"--fail"});
    ASSERT_EQ(NettlebeamAPIFirmwareUpdateStart(handle, path.c_str()), 0);
    EXPECT_EQ(finish(handle, progress), -1);
    EXPECT_EQ(progress, 5);

    auto secondOnly = writeFile("second.bin", imageFile("", 0, 100));
    inject(handle, kFinishSecondImage, {"--fail"});
    ASSERT_EQ(NettlebeamAPIFirmwareUpdateStart(handle, secondOnly.c_str()), 0);
    EXPECT_EQ(finish(handle, progress), -1);
    EXPECT_EQ(progress, 25);
}

// A block corrupted before the file was sealed passes the file's own checks;
// the device finds it against the CRC the image's head announces, refuses to
// program the image, and the update fails. The intact file programs.
TEST_F(FirmwareUpdateTest, TheDeviceRefusesAnImageWithACorruptBlock) {
    int32_t handle = attachListed({"--type", "14"});
    auto file = imageFile("", 1524, 0);
    const uint8_t head[12] = {'N', 'B', 'F', 'C', 3, 0, 0, 1, 0x36, 0x01, 0, 0};
    std::copy(head, head + 12, file.begin() + 16);
    putLe32(file, 28, crc32(std::vector<uint8_t>(file.begin() + 16, file.end()), 16));
    putLe32(file, 4, crc32(file, 16));
    auto corrupt = file;
    corrupt[16 + 700] ^= 0x01;
    putLe32(corrupt, 4, crc32(corrupt, 16));

    int32_t progress = 0;
    ASSERT_EQ(NettlebeamAPIFirmwareUpdateStart(handle, writeFile("corrupt.bin", corrupt).c_str()),
              0);
    EXPECT_EQ(finish(handle, progress), -1);
    EXPECT_EQ(progress, 0);
    ASSERT_EQ(NettlebeamAPIFirmwareUpdateStart(handle, writeFile("intact.bin", file).c_str()), 0);
    EXPECT_EQ(finish(handle, progress), 0);
}

}  // namespace
}  // namespace nettlebeam::apitest
