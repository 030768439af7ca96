// What survives when the daemon goes away under a running capture or under a
// running library: the capture files on disk, the capture's end as the library
// and beamctl see it, and the settings a device saved.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "callback_recorder.h"
#include "library_fixture.h"

namespace nettlebeam::apitest {
namespace {

constexpr const char* kCapinfos = "/usr/bin/capinfos";
constexpr uint32_t kEnhancedPacketBlock = 6;
constexpr auto kGenerousWait = std::chrono::seconds(60);

uint32_t le32(const std::vector<uint8_t>& bytes, size_t at) {
    uint32_t value = 0;
    for (size_t i = 0; i < 4; ++i) value |= uint32_t{bytes[at + i]} << (8 * i);
    return value;
}

std::vector<uint8_t> readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// The pcapng blocks of a file, walked by their length fields.
struct BlockWalk {
    size_t wholeBlocksEnd = 0;  // bytes up to the end of the last whole block
    size_t packets = 0;         // enhanced packet blocks among the whole blocks
    bool endsInsideABlock = false;
    bool malformed = false;  // a length field that no block could have
};

BlockWalk walkBlocks(const std::vector<uint8_t>& bytes) {
    BlockWalk walk;
    size_t at = 0;
    while (at < bytes.size()) {
        const size_t left = bytes.size() - at;
        if (left < 8) {
            walk.endsInsideABlock = true;
            break;
        }
        const uint32_t length = le32(bytes, at + 4);
        if (length < 12 || length % 4 != 0) {
            walk.malformed = true;
            break;
        }
        if (length > left) {
            walk.endsInsideABlock = true;
            break;
        }
        if (le32(bytes, at + length - 4) != length) {
            walk.malformed = true;
            break;
        }
        if (le32(bytes, at) == kEnhancedPacketBlock) ++walk.packets;
        at += length;
    }
    walk.wholeBlocksEnd = at;
    return walk;
}

// capinfos' packet count, or -1 with its complaint in `diagnosis`.
long capinfosPackets(const std::string& path, std::string& diagnosis) {
    auto result = testsupport::runProcess({kCapinfos, "-c", "-M", path}, kGenerousWait);
    diagnosis = result.out + result.err;
    const auto at = result.out.find("Number of packets:");
    if (result.exitStatus != 0 || at == std::string::npos) return -1;
    return std::stol(result.out.substr(at + 18));
}

// A file the daemon closed: whole blocks only, and capinfos reads every packet.
void expectWholeCaptureFile(const std::string& path) {
    const BlockWalk walk = walkBlocks(readFile(path));
    EXPECT_FALSE(walk.malformed) << path << " at byte " << walk.wholeBlocksEnd;
    EXPECT_FALSE(walk.endsInsideABlock) << path << " at byte " << walk.wholeBlocksEnd;
    EXPECT_GT(walk.packets, 0u) << path;
    std::string diagnosis;
    EXPECT_EQ(capinfosPackets(path, diagnosis), static_cast<long>(walk.packets))
        << path << ": " << diagnosis;
}

// The file being written when the daemon died: it may end inside a block, but
// never in a malformed one, and what comes before that is a readable capture.
void expectReadableUpToLastWholeBlock(const std::string& path, const std::string& scratch) {
    const std::vector<uint8_t> bytes = readFile(path);
    const BlockWalk walk = walkBlocks(bytes);
    EXPECT_FALSE(walk.malformed) << path << " at byte " << walk.wholeBlocksEnd;
    if (walk.wholeBlocksEnd == 0) return;  // died before the header was complete
    std::ofstream(scratch, std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()),
               static_cast<std::streamsize>(walk.wholeBlocksEnd));
    std::string diagnosis;
    EXPECT_EQ(capinfosPackets(scratch, diagnosis), static_cast<long>(walk.packets))
        << path << " up to byte " << walk.wholeBlocksEnd << ": " << diagnosis;
}

// A daemon whose fleet file brings the same devices back when it restarts,
// and the library pointed at it.
class DataLossTest : public ::testing::Test {
  protected:
    void startDaemon(const std::vector<std::string>& fleetLines) {
        char folder[] = "/tmp/nbfleet.XXXXXX";
        ASSERT_NE(mkdtemp(folder), nullptr);
        fleetFolder_ = folder;
        std::ofstream fleet(fleetFolder_ + "/fleet");
        for (const std::string& line : fleetLines) fleet << line << '\n';
        fleet.close();
        daemon_ = std::make_unique<testsupport::Daemon>(
            std::vector<std::string>{"--fleet", fleetFolder_ + "/fleet"});
        daemon_->exportControlPath();
    }

    // The callbacks are registered before the library starts, as callers do.
    void initializeLibrary() {
        registration_ = std::make_unique<GlobalRegistration>(recorder_);
        NettlebeamAPIInitialize();
    }

    void TearDown() override {
        NettlebeamAPIUninitialize();
        registration_.reset();
        daemon_.reset();
        if (!fleetFolder_.empty()) std::filesystem::remove_all(fleetFolder_);
    }

    testsupport::Daemon& daemon() { return *daemon_; }

    // The listed handle of the device with this MAC address (its last byte
    // tells the fleet's devices apart), or -1.
    static int32_t handleWithMac(uint8_t lastByte) {
        for (int32_t handle : listedHandles()) {
            uint8_t mac[6] = {};
            if (NettlebeamAPIGetDeviceMAC(handle, mac) == 0 && mac[5] == lastByte) return handle;
        }
        return -1;
    }

    testsupport::ProcessResult beamctl(const std::vector<std::string>& args) {
        std::vector<std::string> argv{BEAMCTL_PATH};
        argv.insert(argv.end(), args.begin(), args.end());
        return testsupport::runProcess(argv, kGenerousWait, {daemon_->controlEnv()});
    }

    CallbackRecorder recorder_;

  private:
    std::string fleetFolder_;
    std::unique_ptr<testsupport::Daemon> daemon_;
    std::unique_ptr<GlobalRegistration> registration_;
};

class CaptureLossTest : public DataLossTest {
  protected:
    // A device with traffic whose capture, started by beamctl, has rotated
    // through a few one-megabyte files.
    void captureSeveralFiles() {
        ASSERT_EQ(access(kCapinfos, X_OK), 0)
            << kCapinfos << " is needed (Debian's tshark, see scripts/install-deps.sh)";
        startDaemon({"--type 9 --mac 00:1b:c5:0a:00:01 --traffic rate=4000"});
        initializeLibrary();
        ASSERT_TRUE(eventually([&] { return listedHandles().size() == 1; }, kGenerousWait));
        handle_ = listedHandles()[0];
        ASSERT_EQ(NettlebeamAPIAddDeviceCallback(handle_, NETTLEBEAM_CALLBACK_DISK_DUMP_STATUS,
                                                 &CallbackRecorder::onCaptureState, &recorder_),
                  0);
        ASSERT_EQ(NettlebeamAPIAddDeviceCallback(handle_, NETTLEBEAM_CALLBACK_NEW_CAPTURE_FILE,
                                                 &CallbackRecorder::onNewFile, &recorder_),
                  0);
        auto started = beamctl({"directcapture", "start", "-o", base(), "--count=0", "--size=1"});
        ASSERT_EQ(started.exitStatus, 0) << started.out;
        ASSERT_TRUE(
            eventually([&] { return recorder_.count("file", handle_) >= 3; }, kGenerousWait))
            << "files announced: " << recorder_.count("file", handle_);
    }

    std::string base() { return daemon().folder() + "/cap.pcapng"; }

    // The capture's files in the order they were written (the file number
    // comes first in the name).
    std::vector<std::string> captureFiles() {
        std::vector<std::string> files;
        for (const auto& entry : std::filesystem::directory_iterator(daemon().folder()))
            if (entry.path().filename().string().rfind("cap_", 0) == 0)
                files.push_back(entry.path());
        std::sort(files.begin(), files.end());
        return files;
    }

    // Every file the library was told of is on disk.
    void expectAnnouncedFilesKept(const std::vector<std::string>& files) {
        for (const RaisedCallback& raised : recorder_.raised()) {
            if (raised.what != "file") continue;
            const std::string name(raised.fileName.begin(), raised.fileName.end());
            EXPECT_NE(std::find(files.begin(), files.end(), name), files.end()) << name;
        }
    }

    // While no daemon serves, the library has dropped the device and beamctl
    // finds none; once one serves again, both see the capture stopped.
    void expectCaptureSeenEnded() {
        EXPECT_TRUE(
            eventually([&] { return recorder_.count("gone", handle_) == 1; }, kGenerousWait));
        NettlebeamApiDiskDumpStatus status{};
        EXPECT_EQ(NettlebeamAPIDiskDumpGetStatus(handle_, &status), -4);
        auto absent = beamctl({"directcapture", "status"});
        EXPECT_NE(absent.exitStatus, 0) << absent.out;
        EXPECT_NE(absent.out.find("Invalid Nettlebeam device selected"), std::string::npos)
            << absent.out;

        daemon().restart();
        ASSERT_TRUE(eventually([&] { return listedHandles().size() == 1; }, kGenerousWait));
        ASSERT_EQ(NettlebeamAPIDiskDumpGetStatus(listedHandles()[0], &status), 0);
        EXPECT_EQ(status.enabled, 0);
        auto after = beamctl({"directcapture", "status"});
        EXPECT_EQ(after.exitStatus, 0) << after.out;
        EXPECT_NE(after.out.find("Enabled : 0\n"), std::string::npos) << after.out;
    }

    int32_t handle_ = -1;
};

TEST_F(CaptureLossTest, StoppedDaemonClosesEveryFileWholeAndAnnouncesTheEnd) {
    ASSERT_NO_FATAL_FAILURE(captureSeveralFiles());
    daemon().stop();

    // An orderly stop announces the capture's end before the device goes.
    ASSERT_TRUE(eventually([&] { return recorder_.count("gone", handle_) == 1; }, kGenerousWait));
    const std::vector<RaisedCallback> raised = recorder_.raised();
    const auto gone = std::find_if(raised.begin(), raised.end(),
                                   [](const RaisedCallback& r) { return r.what == "gone"; });
    const auto off = std::find_if(raised.begin(), raised.end(), [](const RaisedCallback& r) {
        return r.what == "state" && !r.enabled;
    });
    EXPECT_TRUE(off < gone)
        << "no capture-state callback with the capture off before the device went";

    const std::vector<std::string> files = captureFiles();
    ASSERT_GE(files.size(), 3u);
    for (const std::string& file : files) expectWholeCaptureFile(file);
    expectAnnouncedFilesKept(files);
    expectCaptureSeenEnded();
}

TEST_F(CaptureLossTest, KilledDaemonLeavesFilesReadableUpToTheLastWholeBlock) {
    ASSERT_NO_FATAL_FAILURE(captureSeveralFiles());
    daemon().crash();

    const std::vector<std::string> files = captureFiles();
    ASSERT_GE(files.size(), 3u);
    // Every file but the newest was closed before the daemon died.
    for (size_t i = 0; i + 1 < files.size(); ++i) expectWholeCaptureFile(files[i]);
    expectReadableUpToLastWholeBlock(files.back(), daemon().folder() + "/whole-blocks.pcapng");
    expectAnnouncedFilesKept(files);
    expectCaptureSeenEnded();
}

TEST_F(DataLossTest, RestartedDaemonBringsDevicesBackWithTheirSavedSettings) {
    startDaemon({"--type 5 --mac 00:1b:c5:0a:00:01", "--type 11 --mac 00:1b:c5:0a:00:02"});
    initializeLibrary();
    ASSERT_TRUE(eventually([&] { return listedHandles().size() == 2; }, kGenerousWait));
    const int32_t gigabit = handleWithMac(0x01);
    const int32_t tenGigabit = handleWithMac(0x02);
    ASSERT_GE(gigabit, 0);
    ASSERT_GE(tenGigabit, 0);

    // Saved, then changed again without saving: the restart keeps the saved.
    NettlebeamApiDeviceFeatures features{};
    features.keepCrcErrors = 1;
    features.packetSlicing = 1;
    features.slicingLength = 128;
    features.inlineMode = 1;
    ASSERT_EQ(NettlebeamAPISetDeviceFeatures(gigabit, features), 0);
    NettlebeamApiDeviceFeatures saved{};
    ASSERT_EQ(NettlebeamAPIGetDeviceFeatures(gigabit, &saved), 0);
    ASSERT_EQ(NettlebeamAPISaveDeviceFeatures(gigabit), 0);
    features.slicingLength = 64;
    ASSERT_EQ(NettlebeamAPISetDeviceFeatures(gigabit, features), 0);

    NettlebeamApiDpiFilter filter{};
    filter.enabled = 1;
    std::memcpy(filter.pattern, "GET /index", 10);
    filter.mask = 0x3FF;
    ASSERT_EQ(NettlebeamAPISetDpiFilter(tenGigabit, filter), 0);
    NettlebeamApiDpiFilter savedFilter{};
    ASSERT_EQ(NettlebeamAPIGetDpiFilter(tenGigabit, &savedFilter), 0);
    ASSERT_EQ(NettlebeamAPISaveDpiFilter(tenGigabit), 0);
    filter.enabled = 0;
    ASSERT_EQ(NettlebeamAPISetDpiFilter(tenGigabit, filter), 0);

    // The devices leave while no daemon serves (waited for, so that a quick
    // restart cannot hide the gap), and come back with the daemon.
    daemon().stop();
    ASSERT_TRUE(eventually([&] { return listedHandles().empty(); }, kGenerousWait));
    EXPECT_EQ(recorder_.count("gone", gigabit), 1);
    EXPECT_EQ(recorder_.count("gone", tenGigabit), 1);
    daemon().restart();
    ASSERT_TRUE(eventually([&] { return listedHandles().size() == 2; }, kGenerousWait));
    const int32_t gigabitAgain = handleWithMac(0x01);
    const int32_t tenGigabitAgain = handleWithMac(0x02);
    EXPECT_EQ(recorder_.count("new", gigabitAgain), gigabitAgain == gigabit ? 2 : 1);
    EXPECT_EQ(recorder_.count("new", tenGigabitAgain), tenGigabitAgain == tenGigabit ? 2 : 1);

    NettlebeamApiDeviceFeatures restored{};
    ASSERT_EQ(NettlebeamAPIGetDeviceFeatures(gigabitAgain, &restored), 0);
    EXPECT_EQ(std::memcmp(&restored, &saved, sizeof(saved)), 0)
        << "slicing length " << restored.slicingLength;
    NettlebeamApiDpiFilter restoredFilter{};
    ASSERT_EQ(NettlebeamAPIGetDpiFilter(tenGigabitAgain, &restoredFilter), 0);
    EXPECT_EQ(std::memcmp(&restoredFilter, &savedFilter, sizeof(savedFilter)), 0)
        << "enabled " << restoredFilter.enabled;
}

}  // namespace
}  // namespace nettlebeam::apitest
