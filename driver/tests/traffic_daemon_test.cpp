// A device attached to nettlebeamd with traffic: its statistics move, its
// direct capture writes files tshark reads, and bad replay files are refused
// at attach without leaving a device behind.
#include <gtest/gtest.h>
#include <pcap/pcap.h>

#include <chrono>
#include <cstring>
#include <fstream>
#include <sstream>
#include <thread>

#include "daemon_device.h"
#include "nettlebeam_testsupport.h"
#include "request_codes.h"
#include "traffic/frame_generator.h"
#include "traffic_test_support.h"

namespace nettlebeam::traffic {
namespace {

namespace code = wire::code;
using testsupport::Daemon;

using Device = testing::DaemonDevice;

std::vector<uint8_t> le(uint64_t value, size_t bytes) {
    std::vector<uint8_t> out(bytes);
    testing::putLe(out, 0, value, bytes);
    return out;
}

uint64_t word(const std::vector<uint8_t>& reply, size_t index) {
    uint64_t v = 0;
    for (size_t b = 0; b < 8; ++b) v |= static_cast<uint64_t>(reply[8 * index + b]) << (8 * b);
    return v;
}

// Valid frames counted on both ports by the format-1 reply.
uint64_t validFrames(const Device& device) {
    const auto reply = device.request(code::kStatisticsFormat1, {}, 160);
    if (reply.size() != 160) return 0;
    return word(reply, 1) + word(reply, 2) + word(reply, 3) + word(reply, 9) + word(reply, 10) +
           word(reply, 11);
}

bool eventually(const std::function<bool()>& condition, int tenths = 100) {
    for (int i = 0; i < tenths; ++i) {
        if (condition()) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    return condition();
}

void configureCapture(const Device& device, const std::string& base) {
    std::vector<uint8_t> name;
    for (char c : base) name.insert(name.end(), {static_cast<uint8_t>(c), 0});
    name.insert(name.end(), {0, 0});
    ASSERT_TRUE(device.command(code::kCaptureLoop, {0}));
    ASSERT_TRUE(device.command(code::kCaptureFileSize, le(0, 8)));
    ASSERT_TRUE(device.command(code::kCaptureMaxCache, le(16 << 20, 8)));
    ASSERT_TRUE(device.command(code::kCaptureFileName, name));
    ASSERT_TRUE(device.command(code::kCaptureFileCount, le(0, 4)));
    ASSERT_TRUE(device.command(code::kCaptureMode, le(0, 4)));
    ASSERT_TRUE(device.command(code::kCaptureExtraOption, {0}));
    ASSERT_TRUE(device.command(code::kCaptureFileDuration, le(0, 4)));
    ASSERT_TRUE(device.command(code::kCaptureFullFrames, {0}));
}

TEST(TrafficDaemon, GeneratedTrafficIsCountedAndCapturedIntoReadableFiles) {
    Daemon daemon;
    const Device device{daemon, daemon.attach({"--type", "9", "--traffic", "rate=3000"})};
    ASSERT_TRUE(eventually([&] { return validFrames(device) > 1000; }))
        << "the statistics report the traffic";

    configureCapture(device, daemon.folder() + "/live.pcapng");
    ASSERT_TRUE(device.command(code::kCaptureStart));
    std::this_thread::sleep_for(std::chrono::milliseconds(800));
    ASSERT_TRUE(device.command(code::kCaptureStop));
    const auto status = device.request(code::kCaptureStatus, {}, 8256);
    ASSERT_EQ(status.size(), 8256u);
    EXPECT_EQ(word(status, 0), 0u) << "stopped";
    EXPECT_EQ(word(status, 5), 0u) << "no error";
    EXPECT_EQ(word(status, 7), 1u) << "one file";

    std::vector<std::string> files;
    for (const auto& e : std::filesystem::directory_iterator(daemon.folder()))
        if (e.path().filename().string().rfind("live_00001_", 0) == 0) files.push_back(e.path());
    ASSERT_EQ(files.size(), 1u);
    const long frames = testing::tsharkCount(files[0]);
    EXPECT_GT(frames, 1000);
    EXPECT_EQ(testing::capinfosCount(files[0]), frames);
    EXPECT_EQ(std::filesystem::file_size(files[0]), word(status, 3)) << "bytes written";
}

TEST(TrafficDaemon, ARefusedCaptureStartIsLoggedWithTheSystemsReason) {
    Daemon daemon;
    const Device device{daemon, daemon.attach({"--type", "9"})};
    configureCapture(device, daemon.folder() + "/missing/live.pcapng");
    EXPECT_FALSE(device.command(code::kCaptureStart));
    std::stringstream log;
    log << std::ifstream(daemon.folder() + "/nettlebeamd.log").rdbuf();
    EXPECT_NE(log.str().find("refused 0xCB202800: cannot create " + daemon.folder() +
                             "/missing/live_00001_"),
              std::string::npos)
        << log.str();
    EXPECT_NE(log.str().find(std::strerror(ENOENT)), std::string::npos);
}

TEST(TrafficDaemon, ReplayIsCheckedAtAttachAndPlaysEveryFrame) {
    Daemon daemon;
    const std::string input = daemon.folder() + "/in.pcap";
    {
        pcap_t* dead = pcap_open_dead(DLT_EN10MB, 65535);
        pcap_dumper_t* dumper = pcap_dump_open(dead, input.c_str());
        FrameGenerator generator(parseTrafficProfile("mix=large,crc=0,jabber=0"), false);
        for (int i = 0; i < 700; ++i) {
            const Frame& f = generator.make(Port::A, 0);
            pcap_pkthdr header{};
            header.ts.tv_usec = i;
            header.caplen = header.len = static_cast<bpf_u_int32>(f.bytes.size());
            pcap_dump(reinterpret_cast<u_char*>(dumper), &header, f.bytes.data());
        }
        pcap_dump_close(dumper);
        pcap_close(dead);
    }
    const std::string damaged = daemon.folder() + "/damaged.pcap";
    std::filesystem::copy_file(input, damaged);
    std::filesystem::resize_file(damaged, std::filesystem::file_size(input) - 100);
    for (const std::string& bad : {daemon.folder() + "/absent.pcap", damaged}) {
        const auto result = daemon.run({"attach", "--type", "9", "--replay", bad});
        EXPECT_NE(result.exitStatus, 0) << bad;
        EXPECT_NE((result.out + result.err).find(bad), std::string::npos)
            << result.out << result.err;
    }
    EXPECT_EQ(daemon.run({"devices"}).out, "") << "no partial device";

    const Device device{daemon,
                        daemon.attach({"--type", "9", "--replay", input, "--replay-speed", "max"})};
    EXPECT_TRUE(eventually([&] { return validFrames(device) == 700; })) << validFrames(device);
}

}  // namespace
}  // namespace nettlebeam::traffic
