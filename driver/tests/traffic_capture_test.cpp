// Direct capture and memory capture end to end: every file opens in tshark
// and capinfos with the frames delivered, frames are conserved, files rotate
// and ring, failures are reported, and the counters agree with tshark.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <pcap/pcap.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <csignal>
#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>
#include <thread>

#include "traffic/device_traffic.h"
#include "traffic/frame_generator.h"
#include "traffic/pcapng.h"
#include "traffic/replay_source.h"
#include "traffic/traffic_engine.h"
#include "traffic_test_support.h"

namespace nettlebeam::traffic {
namespace {

using testing::capinfosCount;
using testing::TempFolder;
using testing::tsharkCount;

struct Rig {
    explicit Rig(const std::string& traffic = "mix=imix,crc=0,jabber=0,collision=0",
                 bool halfDuplex = false)
        : engine(nullptr), generator(parseTrafficProfile(traffic), halfDuplex) {}
    TrafficEngine engine;
    FrameGenerator generator;
    uint64_t sent[2] = {0, 0};
    uint64_t clock = 1'700'000'000'000'000'000ull;

    void feed(uint64_t frames, Port only = Port::A, bool bothPorts = true) {
        for (uint64_t i = 0; i < frames; ++i) {
            const Port port = bothPorts ? (i % 2 ? Port::B : Port::A) : only;
            engine.feed(generator.make(port, clock += 1000));
            ++sent[static_cast<size_t>(port)];
        }
    }
    DirectCaptureSettings settings(const TempFolder& folder) const {
        DirectCaptureSettings s;
        s.path = folder.path() + "/cap.pcapng";
        return s;
    }
};

// Every file opens in tshark and capinfos; returns the frames in all of them.
long checkFiles(const std::vector<std::string>& files) {
    long total = 0;
    for (const std::string& file : files) {
        const long shark = tsharkCount(file);
        EXPECT_GE(shark, 0) << file << " does not open in tshark";
        EXPECT_EQ(capinfosCount(file), shark) << file;
        total += shark;
    }
    return total;
}

void expectConserved(const DirectCapture& capture, const uint64_t sent[2]) {
    for (Port port : {Port::A, Port::B}) {
        const CaptureTally& t = capture.tally(port);
        EXPECT_EQ(t.received.load(), sent[static_cast<size_t>(port)]);
        EXPECT_EQ(t.received.load(), t.written.load() + t.dropped.load() + t.filtered.load())
            << "port " << static_cast<int>(port);
    }
}

std::vector<CaptureEvent> eventsOf(DirectCapture& capture, CaptureEvent::Kind kind) {
    std::vector<CaptureEvent> out;
    for (const CaptureEvent& e : capture.takeEvents())
        if (e.kind == kind) out.push_back(e);
    return out;
}

TEST(DirectCapture, RotatesBySizeWithRingNamesAndEveryFileOpens) {
    TempFolder folder;
    Rig run;
    auto s = run.settings(folder);
    s.fileSize = 200'000;
    ASSERT_TRUE(run.engine.directCapture().start(s, 65535));
    run.feed(6000);
    run.engine.directCapture().stop();

    const auto files = folder.files();
    ASSERT_GE(files.size(), 3u);
    const std::regex name(".*/cap_(\\d{5})_\\d{14}\\.pcapng");
    for (size_t i = 0; i < files.size(); ++i) {
        std::smatch m;
        ASSERT_TRUE(std::regex_match(files[i], m, name)) << files[i];
        EXPECT_EQ(std::stoul(m[1]), i + 1);
        // The limit holds for the header and packet blocks; two 88-byte statistics blocks follow.
        EXPECT_LE(std::filesystem::file_size(files[i]), s.fileSize + 2 * 88);
    }
    const auto status = run.engine.directCapture().status();
    EXPECT_FALSE(status.enabled);
    EXPECT_EQ(status.filesWritten, files.size());
    EXPECT_EQ(status.error, 0u);
    uint64_t onDisk = 0;
    for (const auto& f : files) onDisk += std::filesystem::file_size(f);
    EXPECT_EQ(status.bytesWritten, onDisk);

    EXPECT_EQ(checkFiles(files), 6000);
    expectConserved(run.engine.directCapture(), run.sent);
    const auto newFiles = eventsOf(run.engine.directCapture(), CaptureEvent::Kind::NewFile);
    ASSERT_EQ(newFiles.size(), files.size());
    EXPECT_EQ(newFiles.back().path, files.back());
}

TEST(DirectCapture, StopsAfterFileCountAndRingKeepsTheNewest) {
    {
        TempFolder folder;
        Rig run;
        auto s = run.settings(folder);
        s.fileSize = 40'000;
        s.fileCount = 3;
        ASSERT_TRUE(run.engine.directCapture().start(s, 65535));
        // Frames keep coming until the writer has ended the capture.
        for (int i = 0; i < 2000 && run.engine.directCapture().status().enabled; ++i) {
            run.feed(100);
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        const auto status = run.engine.directCapture().status();
        EXPECT_FALSE(status.enabled) << "the capture ends by itself after three files";
        EXPECT_EQ(status.filesWritten, 3u);
        const uint64_t receivedAtEnd = run.engine.directCapture().tally(Port::A).received.load() +
                                       run.engine.directCapture().tally(Port::B).received.load();
        run.feed(1000);
        run.engine.directCapture().stop();
        const auto files = folder.files();
        ASSERT_EQ(files.size(), 3u);
        const long written = checkFiles(files);
        const auto& a = run.engine.directCapture().tally(Port::A);
        const auto& b = run.engine.directCapture().tally(Port::B);
        EXPECT_EQ(static_cast<uint64_t>(written), a.written.load() + b.written.load());
        EXPECT_EQ(a.received.load() + b.received.load(), receivedAtEnd)
            << "no frames taken after the end";
        const auto states = eventsOf(run.engine.directCapture(), CaptureEvent::Kind::State);
        ASSERT_FALSE(states.empty());
        EXPECT_FALSE(states.back().enabled);
    }
    {
        TempFolder folder;
        Rig run;
        auto s = run.settings(folder);
        s.fileSize = 30'000;
        s.fileCount = 3;
        s.loop = true;
        ASSERT_TRUE(run.engine.directCapture().start(s, 65535));
        run.feed(20000);
        run.engine.directCapture().stop();
        const auto files = folder.files();
        ASSERT_EQ(files.size(), 3u);
        const uint64_t total = run.engine.directCapture().status().filesWritten;
        EXPECT_GT(total, 3u);
        for (size_t i = 0; i < 3; ++i) {
            char number[8];
            std::snprintf(number, sizeof number, "_%05u_", static_cast<unsigned>(total - 2 + i));
            EXPECT_NE(files[i].find(number), std::string::npos) << files[i];
        }
        checkFiles(files);
    }
}

TEST(DirectCapture, RotatesByDuration) {
    TempFolder folder;
    Rig run;
    auto s = run.settings(folder);
    s.fileDuration = 1;
    ASSERT_TRUE(run.engine.directCapture().start(s, 65535));
    const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(2300);
    while (std::chrono::steady_clock::now() < until) {
        run.feed(50);
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    run.engine.directCapture().stop();
    const auto files = folder.files();
    EXPECT_GE(files.size(), 2u);
    EXPECT_LE(files.size(), 4u);
    EXPECT_EQ(static_cast<uint64_t>(checkFiles(files)), run.sent[0] + run.sent[1]);
}

TEST(DirectCapture, SmallCacheDropsAreCountedAndFramesConserved) {
    TempFolder folder;
    Rig run("mix=mixed,crc=1,jabber=0.5");
    // Half of port B's traffic is filtered out: only TCP passes there... and
    // everywhere, so the three outcomes all occur.
    FilterSet filters;
    std::vector<uint8_t> block(8);
    testing::putLe(block, 0, ~classBit(PacketClass::Udp), 8);
    filters.packetType = *PacketTypeFilter::fromBlock(block);
    run.engine.setFilters(filters);
    auto s = run.settings(folder);
    s.maxCache = 64 << 10;
    ASSERT_TRUE(run.engine.directCapture().start(s, 65535));
    run.feed(100000);
    run.engine.directCapture().stop();

    const auto& capture = run.engine.directCapture();
    const auto status = capture.status();
    EXPECT_GT(status.bytesDropped, 0u);
    EXPECT_EQ(status.error, static_cast<uint32_t>(kCaptureCacheOverflow));
    EXPECT_EQ(status.cacheSize, 64u << 10);
    uint64_t written = 0, dropped = 0, filtered = 0;
    for (Port p : {Port::A, Port::B}) {
        written += capture.tally(p).written.load();
        dropped += capture.tally(p).dropped.load();
        filtered += capture.tally(p).filtered.load();
    }
    EXPECT_GT(dropped, 0u);
    EXPECT_GT(filtered, 0u);
    EXPECT_GT(written, 0u);
    expectConserved(capture, run.sent);
    EXPECT_EQ(static_cast<uint64_t>(checkFiles(folder.files())), written);
    EXPECT_EQ(run.engine.hostDropped() + run.engine.port(Port::A).hwDropped.load() +
                  run.engine.port(Port::B).hwDropped.load(),
              dropped);
}

TEST(DirectCapture, FileErrorsAreReportedAndFilesStayReadable) {
    {
        TempFolder folder;
        Rig run;
        auto s = run.settings(folder);
        s.path = folder.path() + "/missing/cap.pcapng";
        EXPECT_FALSE(run.engine.directCapture().start(s, 65535));
        const auto status = run.engine.directCapture().status();
        EXPECT_FALSE(status.enabled);
        EXPECT_EQ(status.error, static_cast<uint32_t>(kCaptureCannotCreate));
        const std::string failure = run.engine.directCapture().failure();
        EXPECT_NE(failure.find(folder.path() + "/missing/cap_00001_"), std::string::npos);
        EXPECT_NE(failure.find(std::strerror(ENOENT)), std::string::npos) << failure;
        const auto states = eventsOf(run.engine.directCapture(), CaptureEvent::Kind::State);
        ASSERT_FALSE(states.empty());
        EXPECT_FALSE(states.back().enabled);
        EXPECT_EQ(states.back().error, static_cast<uint32_t>(kCaptureCannotCreate));
    }
    {
        // A file size limit of the system stands in for a full disk.
        TempFolder folder;
        Rig run;
        std::signal(SIGXFSZ, SIG_IGN);
        struct FileSizeLimit {
            rlimit old{};
            explicit FileSizeLimit(rlim_t bytes) {
                getrlimit(RLIMIT_FSIZE, &old);
                rlimit small = old;
                small.rlim_cur = bytes;
                setrlimit(RLIMIT_FSIZE, &small);
            }
            ~FileSizeLimit() { setrlimit(RLIMIT_FSIZE, &old); }
        };
        FileSizeLimit limit(300'000);
        auto s = run.settings(folder);
        s.maxCache = 128 << 10;  // the cache's memory file obeys the limit too
        ASSERT_TRUE(run.engine.directCapture().start(s, 65535));
        for (int i = 0; i < 100 && run.engine.directCapture().status().enabled; ++i) {
            run.feed(500);
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        const auto status = run.engine.directCapture().status();
        run.engine.directCapture().stop();
        EXPECT_FALSE(status.enabled);
        EXPECT_EQ(status.error, static_cast<uint32_t>(kCaptureDiskFull));
        const auto files = folder.files();
        ASSERT_EQ(files.size(), 1u);
        const auto& capture = run.engine.directCapture();
        const long inFile = checkFiles(files);
        EXPECT_GT(inFile, 0);
        EXPECT_EQ(static_cast<uint64_t>(inFile),
                  capture.tally(Port::A).written.load() + capture.tally(Port::B).written.load());
        EXPECT_LE(std::filesystem::file_size(files[0]), 300'000u);
        EXPECT_NE(capture.failure().find(std::strerror(EFBIG)), std::string::npos)
            << capture.failure();
        const auto states = eventsOf(run.engine.directCapture(), CaptureEvent::Kind::State);
        ASSERT_FALSE(states.empty());
        EXPECT_EQ(states.back().error, static_cast<uint32_t>(kCaptureDiskFull));
    }
}

TEST(DirectCapture, CountersAgreeWithTsharkOnTheCapturedFile) {
    TempFolder folder;
    Rig run("mix=mixed,crc=0,jabber=0");
    CaptureFeatures features;
    features.keepCrc32 = true;  // captured length = wire length
    run.engine.setFeatures(features);
    struct Check {
        std::vector<uint8_t> block;
        std::string filter;
    };
    auto counter = [](uint8_t index, bool a, bool b, uint8_t valueByte4, uint8_t tested22,
                      uint8_t tested23, uint16_t size = 0, uint8_t sizeCode = 0) {
        std::vector<uint8_t> block(30, 0);
        block[0] = index;
        block[1] = static_cast<uint8_t>(a << 1 | b << 2);
        block[2] = static_cast<uint8_t>(size), block[3] = static_cast<uint8_t>(size >> 8);
        block[4] = valueByte4;
        block[22] = static_cast<uint8_t>(tested22 | sizeCode);
        block[23] = tested23;
        return block;
    };
    const std::vector<Check> checks = {
        {counter(0, true, false, 0x02, 0x08, 0), "udp && frame.interface_id == 0"},
        {counter(1, false, true, 0x01, 0x04, 0), "tcp && frame.interface_id == 1"},
        {counter(2, true, true, 0x40, 0, 0x01), "ipv6"},
        {counter(3, true, true, 0x04, 0x10, 0), "icmp || icmpv6"},
        {counter(4, true, true, 0x20, 0x80, 0), "eth.dst == ff:ff:ff:ff:ff:ff"},
        {counter(5, true, false, 0, 0, 0, 1000, 2), "frame.len > 1000 && frame.interface_id == 0"},
        {counter(6, true, true, 0x80, 0x08, 0x02), "ip && !udp"},
    };
    for (const Check& c : checks) ASSERT_TRUE(run.engine.counters().program(c.block));
    ASSERT_TRUE(run.engine.directCapture().start(run.settings(folder), 65535));
    run.feed(4000);
    run.engine.directCapture().stop();
    const auto files = folder.files();
    ASSERT_EQ(files.size(), 1u);
    ASSERT_EQ(checkFiles(files), 4000);
    for (size_t i = 0; i < checks.size(); ++i)
        EXPECT_EQ(static_cast<long>(run.engine.counters().value(i)),
                  tsharkCount(files[0], checks[i].filter))
            << checks[i].filter;
    const auto& a = run.engine.port(Port::A);
    EXPECT_EQ(
        static_cast<long>(a.from64To1518.load()),
        tsharkCount(files[0], "frame.interface_id == 0 && frame.len >= 64 && frame.len <= 1518"));
    EXPECT_EQ(static_cast<long>(a.moreThan1518.load()),
              tsharkCount(files[0], "frame.interface_id == 0 && frame.len > 1518"));
}

TEST(DirectCapture, FeaturesShapeWhatIsCaptured) {
    TempFolder folder;
    Rig run("mix=large,crc=10,jabber=0");
    CaptureFeatures features;
    features.slicing = true;
    features.slicingLength = 100;
    features.disablePortB = true;
    run.engine.setFeatures(features);
    ASSERT_TRUE(
        run.engine.directCapture().start(run.settings(folder), run.engine.snapLength(false)));
    run.feed(2000);
    run.engine.directCapture().stop();
    const auto file = folder.files().at(0);
    const long all = tsharkCount(file);
    EXPECT_EQ(tsharkCount(file, "frame.interface_id == 1"), 0) << "port B is disabled";
    EXPECT_EQ(tsharkCount(file, "frame.cap_len > 100"), 0);
    EXPECT_GT(tsharkCount(file, "frame.cap_len == 100 && frame.len == 1514"), all / 2)
        << "the original length stays that of the whole frame without its FCS";
    const uint64_t crcDropped = run.engine.port(Port::A).hwDropped.load();
    EXPECT_GT(crcDropped, 50u);
    EXPECT_EQ(static_cast<uint64_t>(all) + crcDropped, run.sent[0]);
}

TEST(DirectCapture, AStopInTheBackgroundClosesTheFileBeforeItsFlagTurns) {
    TempFolder folder;
    Rig run;
    auto settings = run.settings(folder);
    settings.extraOption = true;  // flushed to the disk as it closes
    ASSERT_TRUE(run.engine.directCapture().start(settings, 65535));
    run.feed(20000);
    const auto closed = run.engine.directCapture().stopInBackground();
    // Until the file is closed no new capture starts: a start that succeeds
    // must find the flag already set.
    TempFolder other;
    bool restarted = false;
    while (!restarted && !closed->load()) {
        restarted = run.engine.directCapture().start(run.settings(other), 65535);
        if (restarted) {
            EXPECT_TRUE(closed->load()) << "started before the file was closed";
        }
        std::this_thread::sleep_for(std::chrono::microseconds(200));
    }
    if (restarted) run.engine.directCapture().stop();
    EXPECT_FALSE(run.engine.directCapture().status().enabled);
    EXPECT_EQ(checkFiles(folder.files()), 20000) << "whole once the flag is set";
    EXPECT_TRUE(run.engine.directCapture().stopInBackground()->load()) << "nothing left to stop";
    ASSERT_TRUE(run.engine.directCapture().start(run.settings(folder), 65535));
    run.engine.directCapture().stop();
}

std::string contentOf(const std::string& file) {
    std::stringstream text;
    text << std::ifstream(file).rdbuf();
    return text.str();
}

TEST(DirectCapture, ATakenNameIsNeverOpenedTheNextFreeOneIsWritten) {
    // In a shared folder the coming names can be planted: a FIFO nobody
    // reads (it would hold the opening thread), a link to someone's file, a
    // file of an earlier capture with the same name.
    TempFolder folder;
    Rig run;
    const auto settings = run.settings(folder);
    const std::string victim = folder.path() + "/victim";
    std::ofstream(victim) << "keep me";
    const std::time_t now = std::time(nullptr);
    // The test holds each FIFO's reading end (with room for all a capture
    // writes): an open that reaches a FIFO then returns at once, and what
    // it wrote is seen, where it would otherwise hang the test until the
    // suite's timeout.
    std::vector<int> fifoReaders;
    struct Closer {
        std::vector<int>& fds;
        ~Closer() {
            for (int fd : fds) close(fd);
        }
    } closer{fifoReaders};
    for (std::time_t t = now; t < now + 10; ++t) {
        const std::string fifo = ringFileName(settings.path, 1, t);
        ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
        fifoReaders.push_back(open(fifo.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC));
        ASSERT_GE(fifoReaders.back(), 0);
        ASSERT_GE(fcntl(fifoReaders.back(), F_SETPIPE_SZ, 1 << 20), 1 << 20);
        ASSERT_EQ(symlink(victim.c_str(), ringFileName(settings.path, 1, t, 2).c_str()), 0);
        std::ofstream(ringFileName(settings.path, 1, t, 3)) << "earlier";
    }
    ASSERT_TRUE(run.engine.directCapture().start(settings, 65535));
    run.feed(10);
    run.engine.directCapture().stop();
    for (int fd : fifoReaders) {
        char byte;
        EXPECT_LE(read(fd, &byte, 1), 0) << "a planted FIFO was written";
    }
    const auto created = eventsOf(run.engine.directCapture(), CaptureEvent::Kind::NewFile);
    ASSERT_EQ(created.size(), 1u);
    const std::string written = created[0].path;
    EXPECT_TRUE(std::regex_match(written, std::regex(".*/cap_00001_[0-9]{14}-4\\.pcapng")))
        << written;
    struct stat info {};
    ASSERT_EQ(lstat(written.c_str(), &info), 0);
    // Before the file is read: reading a FIFO would wait for a writer.
    ASSERT_TRUE(S_ISREG(info.st_mode)) << written;
    EXPECT_EQ(info.st_mode & 0777, 0600u);
    EXPECT_EQ(checkFiles({written}), 10);
    EXPECT_EQ(contentOf(victim), "keep me");
    for (std::time_t t = now; t < now + 10; ++t)
        EXPECT_EQ(contentOf(ringFileName(settings.path, 1, t, 3)), "earlier");
}

TEST(DirectCapture, FramesBeyondTheDeclaredLongestAreCutToIt) {
    // A replayed record may be longer than the 65535 bytes the file declares.
    TempFolder folder;
    Rig run;
    ASSERT_TRUE(run.engine.directCapture().start(run.settings(folder), 65535));
    std::vector<uint8_t> giant(70000, 0x42);
    Frame frame;
    frame.bytes = giant;
    frame.wireLength = 70004;
    run.engine.feed(frame);
    run.engine.feed(run.generator.make(Port::A, 1'700'000'000'000'000'000ull));
    run.engine.directCapture().stop();
    const auto file = folder.files().at(0);
    EXPECT_EQ(tsharkCount(file), 2) << "the file still opens, with both frames";
    EXPECT_EQ(tsharkCount(file, "frame.cap_len == 65535 && frame.len == 70000"), 1);
}

TEST(MemoryCapture, HeaderAndWholeBlockReadsFormOnePcapngStream) {
    TempFolder folder;
    Rig run;
    MemoryCapture& memory = run.engine.memoryCapture();
    ASSERT_FALSE(memory.setMode(1));
    ASSERT_TRUE(memory.setMode(0));
    ASSERT_TRUE(memory.start(65535));
    run.feed(3000);
    std::vector<uint8_t> stream = memory.header(1 << 20);
    ASSERT_FALSE(stream.empty());
    EXPECT_TRUE(memory.header(16).empty());
    std::vector<uint8_t> buffer(10'000);
    size_t reads = 0;
    while (size_t n = memory.read(buffer.data(), buffer.size())) {
        // Each read holds whole packet blocks only.
        size_t at = 0;
        while (at < n) {
            ASSERT_EQ(buffer[at], pcapng::kEnhancedPacket);
            at += pcapng::blockLength(buffer.data() + at);
        }
        ASSERT_EQ(at, n);
        stream.insert(stream.end(), buffer.begin(), buffer.begin() + static_cast<long>(n));
        ++reads;
    }
    EXPECT_GT(reads, 10u);
    memory.stop();
    const std::string file = folder.path() + "/memory.pcapng";
    std::ofstream(file, std::ios::binary)
        .write(reinterpret_cast<const char*>(stream.data()),
               static_cast<std::streamsize>(stream.size()));
    EXPECT_EQ(checkFiles({file}), 3000);
}

TEST(MemoryCapture, ADataReplyIsAsLargeAsWhatIsCachedNotAsTheBuffer) {
    DeviceTraffic traffic(nullptr, 1);
    ASSERT_TRUE(traffic.startMemory());
    EXPECT_EQ(traffic.memoryData(64u << 20).capacity(), 0u);
    traffic.stopMemory();
}

// Writes `frames` 64-byte frames to a classic pcap file.
void writePcap(const std::string& path, int frames) {
    pcap_t* dead = pcap_open_dead(DLT_EN10MB, 65535);
    pcap_dumper_t* dumper = pcap_dump_open(dead, path.c_str());
    FrameGenerator generator(parseTrafficProfile("mix=small,crc=0,jabber=0"), false);
    for (int i = 0; i < frames; ++i) {
        const Frame& f = generator.make(Port::A, 0);
        pcap_pkthdr header{};
        header.ts.tv_sec = 1000;
        header.ts.tv_usec = i * 10;
        header.caplen = header.len = static_cast<bpf_u_int32>(f.bytes.size());
        pcap_dump(reinterpret_cast<u_char*>(dumper), &header, f.bytes.data());
    }
    pcap_dump_close(dumper);
    pcap_close(dead);
}

TEST(Replay, RefusesFilesThatAreNotWholeCaptures) {
    TempFolder folder;
    const std::string good = folder.path() + "/good.pcap";
    writePcap(good, 100);
    EXPECT_EQ(ReplaySource({good}).framesInFile(), 100u);
    auto refused = [](const std::string& path) {
        try {
            ReplaySource source({path});
        } catch (const std::runtime_error& e) {
            return std::string(e.what());
        }
        return std::string();
    };
    EXPECT_NE(refused(folder.path() + "/absent.pcap").find("absent.pcap"), std::string::npos);
    const std::string text = folder.path() + "/text.pcap";
    std::ofstream(text) << "this is not a capture file at all\n";
    EXPECT_FALSE(refused(text).empty());
    const std::string truncated = folder.path() + "/truncated.pcap";
    std::filesystem::copy_file(good, truncated);
    std::filesystem::resize_file(truncated, std::filesystem::file_size(good) - 30);
    EXPECT_NE(refused(truncated).find("truncated"), std::string::npos);
    const std::string empty = folder.path() + "/empty.pcap";
    writePcap(empty, 0);
    EXPECT_NE(refused(empty).find("no frames"), std::string::npos);
    EXPECT_THROW(parseReplaySpeed({}, "0"), std::invalid_argument);
    EXPECT_TRUE(parseReplaySpeed({}, "max").asFastAsPossible);
}

TEST(Replay, OriginalLengthsFromTheFileNeverShrinkTheFrame) {
    TempFolder folder;
    const std::string path = folder.path() + "/lengths.pcap";
    const uint32_t originals[] = {0xFFFFFFFFu, 0xFFFFFFFDu, 10, 60, 1500};
    pcap_t* dead = pcap_open_dead(DLT_EN10MB, 65535);
    pcap_dumper_t* dumper = pcap_dump_open(dead, path.c_str());
    FrameGenerator generator(parseTrafficProfile("mix=small,crc=0,jabber=0"), false);
    for (uint32_t original : originals) {
        const Frame& f = generator.make(Port::A, 0);
        pcap_pkthdr header{};
        header.caplen = static_cast<bpf_u_int32>(f.bytes.size());
        header.len = original;
        pcap_dump(reinterpret_cast<u_char*>(dumper), &header, f.bytes.data());
    }
    pcap_dump_close(dumper);
    pcap_close(dead);

    ReplaySettings settings{path};
    settings.asFastAsPossible = true;
    ReplaySource source(settings);
    source.begin(0);
    std::vector<uint32_t> lengths;
    while (const Frame* frame = source.next(1)) {
        EXPECT_GE(frame->wireLength, frame->bytes.size() + 4);
        lengths.push_back(frame->wireLength);
    }
    EXPECT_EQ(lengths, (std::vector<uint32_t>{0xFFFFFFFFu, 0xFFFFFFFFu, 64, 64, 1504}));
}

TEST(Replay, EngineThreadReplaysEveryFrameIntoTheCapture) {
    TempFolder folder;
    const std::string input = folder.path() + "/in.pcap";
    writePcap(input, 5000);
    ReplaySettings replay{input};
    replay.asFastAsPossible = true;
    TrafficEngine engine(std::make_unique<ReplaySource>(replay));
    DirectCaptureSettings s;
    s.path = folder.path() + "/out/cap.pcapng";
    std::filesystem::create_directory(folder.path() + "/out");
    ASSERT_TRUE(engine.directCapture().start(s, 65535));
    engine.start();
    for (int i = 0; i < 500 && !engine.exhausted(); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    engine.stop();
    engine.directCapture().stop();
    ASSERT_TRUE(engine.exhausted());
    TempFolder unused;
    std::vector<std::string> outputs;
    for (const auto& e : std::filesystem::directory_iterator(folder.path() + "/out"))
        outputs.push_back(e.path().string());
    ASSERT_EQ(outputs.size(), 1u);
    EXPECT_EQ(checkFiles(outputs), 5000);
    EXPECT_EQ(engine.port(Port::A).from64To1518.load(), 5000u) << "60 file bytes + FCS on the wire";

    // At the file's pace, 5000 frames 10 microseconds apart take 50 ms; looping repeats them.
    ReplaySettings paced{input};
    paced.loop = true;
    ReplaySource source(paced);
    source.begin(0);
    uint64_t taken = 0;
    while (source.next(120'000'000)) ++taken;
    EXPECT_GE(taken, 10000u);
    EXPECT_LE(taken, 15000u);
}

}  // namespace
}  // namespace nettlebeam::traffic
