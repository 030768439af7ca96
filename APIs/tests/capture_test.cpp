// Direct capture configuration and status, memory capture.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <climits>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "callback_recorder.h"
#include "library_fixture.h"

namespace nettlebeam::apitest {
namespace {

constexpr uint32_t kCaptureLoop = 0xCB20280C;
constexpr uint32_t kCaptureFileName = 0xCB202808;
constexpr uint32_t kCaptureStatus = 0xCB202820;
constexpr uint32_t kCaptureMode = 0xCB202824;
constexpr uint32_t kMemoryCaptureMode = 0xCB202C0C;

NettlebeamApiDiskDumpConfig configFor(const char16_t* name) {
    NettlebeamApiDiskDumpConfig config{};
    config.fileName = name;
    config.fileCount = 1;
    config.maxCache = 16u << 20;
    return config;
}

// An 8256-byte status reply whose first eight words are given.
std::string statusReply(const std::vector<uint64_t>& words) {
    std::string hex;
    for (uint64_t word : words)
        for (int i = 0; i < 8; ++i) {
            char byte[3];
            std::snprintf(byte, sizeof(byte), "%02x",
                          static_cast<unsigned>((word >> (8 * i)) & 0xFF));
            hex += byte;
        }
    hex.resize(8256 * 2, '0');
    return hex;
}

std::u16string asUtf16(const std::string& ascii) {
    return std::u16string(ascii.begin(), ascii.end());
}

uint32_t le32(const std::vector<uint8_t>& bytes, size_t at) {
    return bytes[at] | bytes[at + 1] << 8 | bytes[at + 2] << 16 |
           static_cast<uint32_t>(bytes[at + 3]) << 24;
}

// The enhanced packet blocks of every little-endian pcapng file in `folder`
// whose name starts with `prefix`; -1 (and a test failure) for a file that
// is not one, so a damaged file cannot pass for an empty one.
long framesInFiles(const std::string& folder, const std::string& prefix, int* files) {
    long frames = 0;
    *files = 0;
    for (const auto& entry : std::filesystem::directory_iterator(folder)) {
        if (entry.path().filename().string().rfind(prefix, 0) != 0) continue;
        std::ifstream in(entry.path(), std::ios::binary);
        const std::vector<uint8_t> bytes{std::istreambuf_iterator<char>(in), {}};
        if (bytes.size() < 12 || le32(bytes, 0) != 0x0A0D0D0A || le32(bytes, 8) != 0x1A2B3C4D) {
            ADD_FAILURE() << entry.path() << " is not a little-endian pcapng file";
            return -1;
        }
        for (size_t at = 0; at < bytes.size();) {
            const uint32_t length = at + 8 <= bytes.size() ? le32(bytes, at + 4) : 0;
            if (length < 12 || length % 4 != 0 || length > bytes.size() - at) {
                ADD_FAILURE() << entry.path() << ": broken block at " << at;
                return -1;
            }
            if (le32(bytes, at) == 6) ++frames;
            at += length;
        }
        ++*files;
    }
    return frames;
}

class CaptureTest : public LibraryTest {
  protected:
    CallbackRecorder recorder_;
};

TEST_F(CaptureTest, ConfigurationChecksComeWhereTheDeviceAsksForThem) {
    int32_t handle = attachListed({"--type", "5", "--hw-fw", "299"});
    auto config = configFor(u"capture");
    config.fullFrames = 1;
    // Refused before anything is sent: the failing first request is not reached.
    inject(handle, kCaptureLoop, {"--fail"});
    EXPECT_EQ(NettlebeamAPIDiskDumpSetConfig(handle, config), -5);
    config.fullFrames = 0;
    EXPECT_EQ(NettlebeamAPIDiskDumpSetConfig(handle, config), -2);

    // An unsupported mode is found after the file settings went out: the
    // failing mode request is never reached.
    config.mode = 1;
    inject(handle, kCaptureMode, {"--fail"});
    EXPECT_EQ(NettlebeamAPIDiskDumpSetConfig(handle, config), -5);
    config.mode = 0;
    EXPECT_EQ(NettlebeamAPIDiskDumpSetConfig(handle, config), -2);

    inject(handle, kCaptureFileName, {"--fail"});
    EXPECT_EQ(NettlebeamAPIDiskDumpSetConfig(handle, config), -1);
    config.fileName = nullptr;
    EXPECT_EQ(NettlebeamAPIDiskDumpSetConfig(handle, config), -1);
    config.fileName = u"capture";
    EXPECT_EQ(NettlebeamAPIDiskDumpSetConfig(handle, config), 0);
    EXPECT_EQ(NettlebeamAPIDiskDumpSetConfig(handle + 100, config), -4);
}

TEST_F(CaptureTest, ARelativeNameIsCapturedInTheCurrentDirectory) {
    int32_t handle = attachListed({"--type", "5"});
    ASSERT_EQ(NettlebeamAPIAddDeviceCallback(handle, 1, &CallbackRecorder::onNewFile, &recorder_),
              0);
    char previous[PATH_MAX];
    ASSERT_NE(getcwd(previous, sizeof(previous)), nullptr);
    ASSERT_EQ(chdir(daemon().folder().c_str()), 0);
    int32_t status = NettlebeamAPIDiskDumpSetConfig(handle, configFor(u"./sub/../trace"));
    ASSERT_EQ(chdir(previous), 0);
    ASSERT_EQ(status, 0);

    NettlebeamApiDiskDumpStatus before{};
    ASSERT_EQ(NettlebeamAPIDiskDumpGetStatus(handle, &before), 0);
    EXPECT_EQ(before.enabled, 0);
    ASSERT_EQ(NettlebeamAPIDiskDumpStart(handle), 0);
    ASSERT_TRUE(eventually([&] { return recorder_.count("file", handle) >= 1; }));
    std::u16string expectedStart = asUtf16(daemon().folder() + "/trace");
    std::u16string announced;
    for (const auto& raised : recorder_.raised())
        if (raised.what == "file" && announced.empty()) announced = raised.fileName;
    EXPECT_EQ(announced.substr(0, expectedStart.size()), expectedStart);

    NettlebeamApiDiskDumpStatus running{};
    ASSERT_EQ(NettlebeamAPIDiskDumpGetStatus(handle, &running), 0);
    EXPECT_EQ(running.enabled, 1);
    EXPECT_EQ(NettlebeamAPIDiskDumpStop(handle), 0);
}

// A device unplugged mid-capture closes its file as it goes: by the time it
// is announced gone, the file is whole and grows no more, so a program that
// picks up the last file on removal sends all of it.
struct FileAtRemoval {
    std::string path;
    std::atomic<long long> size{-1};
};

void recordSizeAtRemoval(NettlebeamApiDeviceHandle, void* self) {
    auto* seen = static_cast<FileAtRemoval*>(self);
    struct stat info {};
    seen->size = ::stat(seen->path.c_str(), &info) == 0 ? info.st_size : -2;
}

TEST_F(CaptureTest, ADeviceIsAnnouncedGoneOnceItsCaptureFileIsWhole) {
    int32_t handle = attachListed({"--type", "5", "--traffic", "rate=20000,mix=imix"});
    ASSERT_EQ(NettlebeamAPIAddDeviceCallback(handle, 1, &CallbackRecorder::onNewFile, &recorder_),
              0);
    const std::u16string name = asUtf16(daemon().folder() + "/unplugged");
    NettlebeamApiDiskDumpConfig config = configFor(name.c_str());
    config.maxCache = 64u << 20;  // frames wait in the cache until the file is closed
    ASSERT_EQ(NettlebeamAPIDiskDumpSetConfig(handle, config), 0);
    ASSERT_EQ(NettlebeamAPIDiskDumpStart(handle), 0);
    ASSERT_TRUE(eventually([&] { return recorder_.count("file", handle) >= 1; }));
    FileAtRemoval seen;
    for (const auto& raised : recorder_.raised())
        if (raised.what == "file" && seen.path.empty())
            seen.path = std::string(raised.fileName.begin(), raised.fileName.end());
    NettlebeamApiStatistics statistics{};
    ASSERT_TRUE(eventually([&] {
        return NettlebeamAPIGetStatistics(handle, &statistics) == 0 &&
               statistics.data.v1.portA.totalValidPackets > 20000;
    }));

    ASSERT_EQ(NettlebeamAPIAddDeviceGoneCallback(&recordSizeAtRemoval, &seen), 0);
    daemon().detach(handle);
    ASSERT_TRUE(eventually([&] { return seen.size != -1; }));
    NettlebeamAPIRemoveDeviceGoneCallback(&recordSizeAtRemoval);
    daemon().stop();  // waits for every teardown
    struct stat after {};
    ASSERT_EQ(::stat(seen.path.c_str(), &after), 0);
    EXPECT_GT(after.st_size, 0);
    EXPECT_EQ(seen.size, static_cast<long long>(after.st_size));
}

// The count comes from the files' writer, not from the frames offered, and
// starts again with every capture; several files of one run add up.
TEST_F(CaptureTest, FramesWrittenIsWhatTheFilesOfTheLastCaptureHold) {
    int32_t handle = attachListed({"--type", "5", "--traffic", "rate=20000,mix=imix"});
    int32_t noCapture = daemon().attach({"--hwid", "0x4A"});
    ASSERT_TRUE(eventually([&] { return isListed(noCapture); }));
    uint64_t frames = 12345;
    ASSERT_EQ(NettlebeamAPIDiskDumpGetFramesWritten(handle, &frames), 0);
    EXPECT_EQ(frames, 0u) << "no capture yet";
    EXPECT_EQ(NettlebeamAPIDiskDumpGetFramesWritten(handle, nullptr), -1);
    EXPECT_EQ(NettlebeamAPIDiskDumpGetFramesWritten(noCapture, &frames), -5);
    EXPECT_EQ(NettlebeamAPIDiskDumpGetFramesWritten(handle + 100, &frames), -4);

    const std::string folder = daemon().folder();
    for (const std::string run : {"first", "second"}) {
        const std::u16string name = asUtf16(folder + "/" + run);
        NettlebeamApiDiskDumpConfig config = configFor(name.c_str());
        config.fileCount = 0;
        config.fileSize = 256u << 10;  // several files per run
        ASSERT_EQ(NettlebeamAPIDiskDumpSetConfig(handle, config), 0);
        ASSERT_EQ(NettlebeamAPIDiskDumpStart(handle), 0);
        ASSERT_TRUE(eventually([&] {
            NettlebeamApiDiskDumpStatus status{};
            return NettlebeamAPIDiskDumpGetStatus(handle, &status) == 0 && status.filesWritten >= 3;
        })) << run;
        ASSERT_EQ(NettlebeamAPIDiskDumpStop(handle), 0);
        NettlebeamApiDiskDumpStatus status{};
        ASSERT_EQ(NettlebeamAPIDiskDumpGetStatus(handle, &status), 0);
        ASSERT_EQ(status.enabled, 0) << "the stop waits for the last file";
        EXPECT_EQ(status.error, 0);

        ASSERT_EQ(NettlebeamAPIDiskDumpGetFramesWritten(handle, &frames), 0);
        int files = 0;
        const long inFiles = framesInFiles(folder, run + "_", &files);
        EXPECT_EQ(static_cast<uint64_t>(files), status.filesWritten) << run;
        EXPECT_GT(inFiles, 0) << run;
        // The second run's count holds its own files only.
        EXPECT_EQ(frames, static_cast<uint64_t>(inFiles)) << run;
    }
}

TEST_F(CaptureTest, StatusErrorsAreMappedToStatuses) {
    int32_t handle = attachListed({"--type", "5"});
    NettlebeamApiDiskDumpStatus status{};
    inject(handle, kCaptureStatus, {"--reply-hex", statusReply({1, 0, 500, 600, 7, 16, 900, 3})});
    ASSERT_EQ(NettlebeamAPIDiskDumpGetStatus(handle, &status), 0);
    EXPECT_EQ(status.enabled, 1);
    EXPECT_EQ(status.cacheUsed, 500u);
    EXPECT_EQ(status.bytesWritten, 600u);
    EXPECT_EQ(status.bytesDropped, 7u);
    EXPECT_EQ(status.error, -9);
    EXPECT_EQ(status.maxCache, 900u);
    EXPECT_EQ(status.filesWritten, 3u);
    inject(handle, kCaptureStatus, {"--reply-hex", statusReply({0, 0, 0, 0, 0, 4, 0, 0})});
    ASSERT_EQ(NettlebeamAPIDiskDumpGetStatus(handle, &status), 0);
    EXPECT_EQ(status.error, -1);
    inject(handle, kCaptureStatus, {"--reply-bytes", "64"});
    EXPECT_EQ(NettlebeamAPIDiskDumpGetStatus(handle, &status), 64);
}

TEST_F(CaptureTest, MemoryCapture) {
    int32_t handle = attachListed({"--type", "5"});
    int32_t noCapture = daemon().attach({"--hwid", "0x4A"});
    ASSERT_TRUE(eventually([&] { return isListed(noCapture); }));
    EXPECT_EQ(NettlebeamAPIMemoryCaptureStart(handle, 1), -5);
    EXPECT_EQ(NettlebeamAPIMemoryCaptureStart(noCapture, 0), -5);
    inject(handle, kMemoryCaptureMode, {"--fail"});
    EXPECT_EQ(NettlebeamAPIMemoryCaptureStart(handle, 0), -2);
    ASSERT_EQ(NettlebeamAPIMemoryCaptureStart(handle, 0), 0);

    std::vector<uint8_t> buffer(NETTLEBEAM_MEMORY_CAPTURE_MIN_BUFFER);
    int32_t size = NETTLEBEAM_MEMORY_CAPTURE_MIN_BUFFER - 1;
    EXPECT_EQ(NettlebeamAPIMemoryCaptureGet(handle, buffer.data(), &size), -10);
    EXPECT_EQ(size, NETTLEBEAM_MEMORY_CAPTURE_MIN_BUFFER - 1);
    size = NETTLEBEAM_MEMORY_CAPTURE_MIN_BUFFER;
    EXPECT_EQ(NettlebeamAPIMemoryCaptureGetHeader(handle, buffer.data(), &size), 0);
    EXPECT_GE(size, 0);
    EXPECT_LE(size, NETTLEBEAM_MEMORY_CAPTURE_MIN_BUFFER);
    size = NETTLEBEAM_MEMORY_CAPTURE_MIN_BUFFER;
    inject(handle, 0xCB202C0B, {"--fail"});
    EXPECT_EQ(NettlebeamAPIMemoryCaptureGet(handle, buffer.data(), &size), -1);
    EXPECT_EQ(size, -2);
    EXPECT_EQ(NettlebeamAPIMemoryCaptureStop(handle), 0);
}

}  // namespace
}  // namespace nettlebeam::apitest
