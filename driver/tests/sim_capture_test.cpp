// Direct capture and memory capture on the simulated devices: settings,
// state changes, the status reply and the capture-state events.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>

#include "codec/capture.h"
#include "codec/events.h"
#include "request_codes.h"
#include "sim_test_support.h"

namespace nettlebeam::driver::simtest {
namespace {

namespace code = wire::code;

std::vector<uint8_t> utf16z(const std::u16string& text) {
    std::vector<uint8_t> out;
    for (char16_t c : text) {
        out.push_back(static_cast<uint8_t>(c));
        out.push_back(static_cast<uint8_t>(c >> 8));
    }
    out.push_back(0);
    out.push_back(0);
    return out;
}

std::vector<uint8_t> u64(uint64_t v) {
    auto low = u32(static_cast<uint32_t>(v)), high = u32(static_cast<uint32_t>(v >> 32));
    low.insert(low.end(), high.begin(), high.end());
    return low;
}

// The configuration sequence of the library, one request after the other.
void configure(Bench& bench, const std::u16string& name, uint64_t maxCache = 100ull << 20,
               uint8_t fullFrames = 1) {
    ASSERT_TRUE(bench.request(code::kCaptureLoop, {1}).ok);
    ASSERT_TRUE(bench.request(code::kCaptureFileSize, u64(1ull << 30)).ok);
    ASSERT_TRUE(bench.request(code::kCaptureMaxCache, u64(maxCache)).ok);
    ASSERT_TRUE(bench.request(code::kCaptureFileName, utf16z(name)).ok);
    ASSERT_TRUE(bench.request(code::kCaptureFileCount, u32(4)).ok);
    ASSERT_TRUE(bench.request(code::kCaptureMode, u32(0)).ok);
    ASSERT_TRUE(bench.request(code::kCaptureExtraOption, {0}).ok);
    ASSERT_TRUE(bench.request(code::kCaptureFileDuration, u32(60)).ok);
    ASSERT_TRUE(bench.request(code::kCaptureFullFrames, {fullFrames}).ok);
}

// A writable folder for the capture files, removed afterwards.
struct CaptureFolder {
    std::string path;
    CaptureFolder() {
        char pattern[] = "/tmp/sim-capture-XXXXXX";
        path = mkdtemp(pattern);
    }
    ~CaptureFolder() { std::filesystem::remove_all(path); }
    std::u16string base() const {
        std::u16string out(path.begin(), path.end());
        return out + u"/cap.pcapng";
    }
};

std::vector<std::vector<uint8_t>> stateEvents(const Bench& bench) {
    std::vector<std::vector<uint8_t>> out;
    for (const auto& e : bench.host.events)
        if (e.size() > 4 && e[4] == 4) out.push_back(e);
    return out;
}

NettlebeamApiDiskDumpStatus status(Bench& bench) {
    auto reply = bench.request(code::kCaptureStatus, {}, 8256);
    EXPECT_TRUE(reply.ok);
    return codec::decodeDiskDumpStatus(reply.bytes).value_or(NettlebeamApiDiskDumpStatus{});
}

TEST(SimulatedDirectCapture, StartAndStopChangeTheStateAndRaiseEvents) {
    Bench bench(0x4D);
    EXPECT_FALSE(bench.request(code::kCaptureStart).ok) << "no file name yet";
    CaptureFolder folder;
    configure(bench, folder.base(), 200ull << 20);
    auto idle = status(bench);
    EXPECT_EQ(idle.enabled, 0);
    EXPECT_EQ(idle.maxCache, 200ull << 20);

    ASSERT_TRUE(bench.request(code::kCaptureStart).ok);
    EXPECT_EQ(status(bench).enabled, 1);
    EXPECT_EQ(status(bench).error, 0);
    EXPECT_FALSE(bench.request(code::kCaptureStart).ok) << "already running";
    EXPECT_FALSE(bench.request(code::kCaptureFileCount, u32(9)).ok)
        << "a running capture keeps its settings";
    ASSERT_TRUE(bench.request(code::kCaptureStop).ok);
    EXPECT_EQ(status(bench).enabled, 0);
    ASSERT_TRUE(bench.request(code::kCaptureStop).ok) << "stopping a stopped capture is harmless";

    const auto states = stateEvents(bench);
    ASSERT_EQ(states.size(), 2u) << "one event per change of state";
    for (size_t i = 0; i < 2; ++i) {
        ASSERT_EQ(states[i].size(), 4108u);
        auto event = codec::decodeEvent(states[i]);
        ASSERT_TRUE(event.has_value());
        EXPECT_EQ(event->kind, 4u);
        EXPECT_EQ(event->handle, 7);
        EXPECT_EQ(event->stateWord, i == 0 ? 1u : 0u);
        EXPECT_EQ(event->driverErrorCode, 0u);
    }
}

TEST(SimulatedDirectCapture, TheStatusCarriesTheBaseName) {
    Bench bench(0x4F);
    configure(bench, u"/captures/links\u00e9.pcapng");
    auto reply = bench.request(code::kCaptureStatus, {}, 8256).bytes;
    auto expected = utf16z(u"/captures/links\u00e9.pcapng");
    EXPECT_TRUE(std::equal(expected.begin(), expected.end(), reply.begin() + 64));
    EXPECT_EQ(le64(reply, 0), 0u);
}

TEST(SimulatedDirectCapture, SettingsTheDeviceCannotTakeAreRefused) {
    Bench bench(0x4F, {}, true, 299);
    configure(bench, u"/data/x", 100ull << 20, 0);
    const std::pair<uint32_t, std::vector<uint8_t>> refused[] = {
        {code::kCaptureLoop, {2}},
        {code::kCaptureLoop, {1, 0}},
        {code::kCaptureMode, u32(1)},
        {code::kCaptureMaxCache, u64(0)},
        {code::kCaptureFileSize, u32(5)},
        {code::kCaptureFileCount, u32(0x80000000)},
        {code::kCaptureFileDuration, {1}},
        {code::kCaptureFullFrames, {1}},  // needs hardware firmware 300
        {code::kCaptureFileName, utf16z(u"relative/name")},
        {code::kCaptureFileName, {'/', 0, 'x', 0}},      // no terminator
        {code::kCaptureFileName, {'/', 0, 'x', 0, 0}},   // odd length
        {code::kCaptureFileName, utf16z(u"/a\xD800z")},  // lone surrogate
        {code::kCaptureFileName, utf16z(std::u16string(3000, u'a').insert(0, u"/"))},
    };
    for (const auto& [c, payload] : refused)
        EXPECT_FALSE(bench.request(c, payload).ok) << std::hex << c;
    auto reply = bench.request(code::kCaptureStatus, {}, 8256).bytes;
    auto expected = utf16z(u"/data/x");
    EXPECT_TRUE(std::equal(expected.begin(), expected.end(), reply.begin() + 64))
        << "the name stays as configured";
    EXPECT_TRUE(bench.request(code::kCaptureFullFrames, {0}).ok);
}

TEST(SimulatedDirectCapture, APowerCycleStopsTheCaptureAndForgetsTheSettings) {
    Bench bench(0x15);
    CaptureFolder folder;
    configure(bench, folder.base());
    ASSERT_TRUE(bench.request(code::kCaptureStart).ok);
    bench.device().powerOn();
    EXPECT_EQ(status(bench).enabled, 0);
    EXPECT_FALSE(bench.request(code::kCaptureStart).ok);
}

TEST(SimulatedMemoryCapture, NeedsItsModeAndExcludesADirectCapture) {
    Bench bench(0x4D);
    EXPECT_FALSE(bench.request(code::kMemoryCaptureStart).ok) << "mode first";
    EXPECT_FALSE(bench.request(code::kMemoryCaptureMode, u32(1)).ok);
    ASSERT_TRUE(bench.request(code::kMemoryCaptureMode, u32(0)).ok);
    ASSERT_TRUE(bench.request(code::kMemoryCaptureStart).ok);
    EXPECT_FALSE(bench.request(code::kMemoryCaptureStart).ok);
    CaptureFolder folder;
    configure(bench, folder.base());
    EXPECT_FALSE(bench.request(code::kCaptureStart).ok) << "one capture at a time";
    auto data = bench.request(code::kMemoryCaptureData, {}, 0x80000);
    ASSERT_TRUE(data.ok);
    EXPECT_TRUE(data.bytes.empty()) << "nothing captured on an idle network";
    ASSERT_TRUE(bench.request(code::kMemoryCaptureStop).ok);
    EXPECT_TRUE(bench.request(code::kCaptureStart).ok);
    EXPECT_TRUE(stateEvents(bench).size() == 1) << "memory capture raises no events";
}

TEST(SimulatedMemoryCapture, TheHeaderIsAPcapngSectionWithBothPorts) {
    Bench bench(0x4F);
    auto header = bench.request(code::kMemoryCaptureHeader, {}, 0x80000);
    ASSERT_TRUE(header.ok);
    const auto& h = header.bytes;
    ASSERT_GE(h.size(), 28u);
    EXPECT_EQ(le32(h, 0), 0x0A0D0D0Au);
    EXPECT_EQ(le32(h, 8), 0x1A2B3C4Du);
    // Walk the blocks: each total length appears at both ends.
    std::vector<uint32_t> types;
    for (size_t at = 0; at < h.size();) {
        ASSERT_LE(at + 12, h.size());
        uint32_t length = le32(h, at + 4);
        ASSERT_EQ(length % 4, 0u);
        ASSERT_LE(at + length, h.size());
        EXPECT_EQ(le32(h, at + length - 4), length);
        types.push_back(le32(h, at));
        at += length;
    }
    EXPECT_EQ(types, (std::vector<uint32_t>{0x0A0D0D0A, 1, 1}));
    EXPECT_EQ(bench.request(code::kMemoryCaptureHeader, {}, 20).bytes.size(), 20u)
        << "filled as far as the caller's buffer reaches";

    // The capture tools read it as a capture with two interfaces.
    char path[] = "/tmp/sim-header-XXXXXX.pcapng";
    int fd = mkstemps(path, 7);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(write(fd, h.data(), h.size()), static_cast<ssize_t>(h.size()));
    close(fd);
    std::string command = std::string("capinfos -I ") + path + " 2>&1";
    FILE* out = popen(command.c_str(), "r");
    std::string text;
    char buf[512];
    while (out && fgets(buf, sizeof buf, out)) text += buf;
    int rc = out ? pclose(out) : -1;
    unlink(path);
    EXPECT_EQ(rc, 0) << text;
    EXPECT_NE(text.find("Port A"), std::string::npos) << text;
    EXPECT_NE(text.find("Port B"), std::string::npos) << text;
}

}  // namespace
}  // namespace nettlebeam::driver::simtest
