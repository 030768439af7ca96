// Memory capture reads through the library: the ring the driver shares and
// the data request deliver one pcapng stream between them, a new capture
// never reads the old one's ring, and the driver's failures still reach the
// caller.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <sstream>
#include <thread>
#include <vector>

#include "capture_ring.h"
#include "library_fixture.h"

namespace nettlebeam::apitest {
namespace {

constexpr uint32_t kMemoryCaptureMode = 0xCB202C0C;
constexpr uint32_t kMemoryCaptureStart = 0xCB202C00;
constexpr uint32_t kMemoryCaptureStop = 0xCB202C04;
constexpr uint32_t kMemoryCaptureData = 0xCB202C0B;
constexpr uint32_t kShareMemoryCapture = 0x4E420007;
constexpr int32_t kBuffer = NETTLEBEAM_MEMORY_CAPTURE_MIN_BUFFER;

// Frame `n` of a replay: 100 to 999 bytes, its number after the Ethernet
// header and bytes derived from it, so every captured byte can be checked.
std::vector<uint8_t> frame(uint32_t n) {
    std::vector<uint8_t> bytes(100 + (n * 37) % 900);
    for (size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<uint8_t>(n + i);
    std::fill_n(bytes.begin(), 6, 0xFF);
    bytes[12] = 0x88;
    bytes[13] = 0xB5;
    std::memcpy(bytes.data() + 14, &n, 4);
    return bytes;
}

// A classic pcap file of frames 0..count-1; frame n at `when(n)` microseconds.
template <typename When>
void writeReplay(const std::string& path, uint32_t count, When when) {
    std::ofstream out(path, std::ios::binary);
    auto put = [&out](uint32_t value, int bytes) {
        out.write(reinterpret_cast<const char*>(&value), bytes);
    };
    put(0xA1B2C3D4, 4);
    put(2, 2);
    put(4, 2);
    put(0, 4);
    put(0, 4);
    put(65535, 4);
    put(1, 4);
    for (uint32_t n = 0; n < count; ++n) {
        const uint64_t us = when(n);
        const std::vector<uint8_t> bytes = frame(n);
        put(static_cast<uint32_t>(us / 1000000), 4);
        put(static_cast<uint32_t>(us % 1000000), 4);
        put(static_cast<uint32_t>(bytes.size()), 4);
        put(static_cast<uint32_t>(bytes.size()), 4);
        out.write(reinterpret_cast<const char*>(bytes.data()),
                  static_cast<std::streamsize>(bytes.size()));
    }
}

// Checks that `bytes` are whole enhanced packet blocks of port A carrying
// replay frames unchanged, and appends their numbers.
void takeFrames(const std::vector<uint8_t>& bytes, std::vector<uint32_t>& numbers) {
    size_t at = 0;
    while (at < bytes.size()) {
        ASSERT_GE(bytes.size() - at, 32u);
        uint32_t type, length, interface, captured;
        std::memcpy(&type, bytes.data() + at, 4);
        std::memcpy(&length, bytes.data() + at + 4, 4);
        std::memcpy(&interface, bytes.data() + at + 8, 4);
        std::memcpy(&captured, bytes.data() + at + 20, 4);
        ASSERT_EQ(type, 6u);
        ASSERT_LE(at + length, bytes.size()) << "whole blocks only";
        ASSERT_EQ(interface, 0u);
        uint32_t number;
        std::memcpy(&number, bytes.data() + at + 28 + 14, 4);
        const std::vector<uint8_t> expected = frame(number);
        ASSERT_EQ(captured, expected.size()) << "frame " << number;
        ASSERT_TRUE(std::equal(expected.begin(), expected.end(), bytes.begin() + at + 28))
            << "frame " << number;
        numbers.push_back(number);
        at += length;
    }
}

// Frames tshark reads from a pcapng file; -1 when it rejects the file.
long tsharkFrames(const std::string& file) {
    FILE* pipe =
        popen(("tshark -n -r '" + file + "' -T fields -e frame.number 2>/dev/null").c_str(), "r");
    if (pipe == nullptr) return -1;
    long lines = 0;
    for (int c; (c = std::fgetc(pipe)) != EOF;) lines += c == '\n';
    return pclose(pipe) == 0 ? lines : -1;
}

// Whether this process maps a memory capture ring now.
bool ringMapped() {
    std::ifstream maps("/proc/self/maps");
    const std::string text((std::istreambuf_iterator<char>(maps)),
                           std::istreambuf_iterator<char>());
    return text.find("memfd:nettlebeam-memory-capture") != std::string::npos;
}

class MemoryCaptureTest : public LibraryTest {
  protected:
    // A type-5 device replaying `file`; its memory capture is started at once,
    // before the replay's link is up.
    int32_t attachCapturing(const std::vector<std::string>& replay) {
        std::vector<std::string> options{"--type", "5"};
        options.insert(options.end(), replay.begin(), replay.end());
        const int32_t handle = daemon().attach(options);
        int32_t result = -9;
        raw(handle, kMemoryCaptureMode, {0, 0, 0, 0}, 0, &result);
        EXPECT_EQ(result, 0);
        raw(handle, kMemoryCaptureStart, {}, 0, &result);
        EXPECT_EQ(result, 0);
        NettlebeamAPIInitialize();
        EXPECT_TRUE(eventually([&] { return isListed(handle); }));
        return handle;
    }

    std::vector<uint8_t> libraryRead(int32_t handle, int32_t* status = nullptr) {
        std::vector<uint8_t> buffer(kBuffer);
        int32_t size = kBuffer;
        const int32_t result = NettlebeamAPIMemoryCaptureGet(handle, buffer.data(), &size);
        if (status) *status = result;
        EXPECT_EQ(result, 0);
        buffer.resize(size > 0 ? static_cast<size_t>(size) : 0);
        return buffer;
    }

    // Reads with `readers` until frames 1..count have all come, or nothing
    // came for 20 seconds; returns what each reader got.
    std::vector<std::vector<uint8_t>> drain(int32_t handle, uint32_t count,
                                            const std::vector<bool>& throughLibrary) {
        std::vector<std::vector<uint8_t>> streams(throughLibrary.size());
        std::atomic<uint64_t> frames{0};
        std::atomic<int64_t> lastProgress{
            std::chrono::steady_clock::now().time_since_epoch().count()};
        auto quiet = [&] {
            return std::chrono::steady_clock::now().time_since_epoch().count() - lastProgress >
                   std::chrono::nanoseconds(std::chrono::seconds(20)).count();
        };
        std::vector<std::thread> threads;
        for (size_t r = 0; r < throughLibrary.size(); ++r) {
            threads.emplace_back([&, r] {
                while (frames.load() < count && !quiet()) {
                    std::vector<uint8_t> chunk = throughLibrary[r]
                                                     ? libraryRead(handle)
                                                     : raw(handle, kMemoryCaptureData, {}, kBuffer);
                    if (chunk.empty()) {
                        std::this_thread::sleep_for(std::chrono::milliseconds(1));
                        continue;
                    }
                    std::vector<uint32_t> numbers;
                    takeFrames(chunk, numbers);
                    frames += std::count_if(numbers.begin(), numbers.end(),
                                            [](uint32_t n) { return n != 0; });
                    lastProgress = std::chrono::steady_clock::now().time_since_epoch().count();
                    streams[r].insert(streams[r].end(), chunk.begin(), chunk.end());
                }
            });
        }
        for (auto& t : threads) t.join();
        return streams;
    }

    // Every reader's stream is in order, and together they hold frames
    // 1..count once each (frame 0 comes before the burst and may be missed).
    void expectEveryFrameOnce(const std::vector<std::vector<uint8_t>>& streams, uint32_t count) {
        std::vector<uint32_t> all;
        for (const auto& stream : streams) {
            std::vector<uint32_t> numbers;
            takeFrames(stream, numbers);
            EXPECT_TRUE(std::is_sorted(numbers.begin(), numbers.end()));
            all.insert(all.end(), numbers.begin(), numbers.end());
        }
        std::erase(all, 0u);
        std::sort(all.begin(), all.end());
        ASSERT_EQ(all.size(), count) << "frames lost or read twice";
        for (uint32_t n = 1; n <= count; ++n) ASSERT_EQ(all[n - 1], n);
    }

    // Header and one reader's data as a file: tshark reads every frame of it.
    void expectReadable(int32_t handle, const std::vector<uint8_t>& data, const std::string& name) {
        std::vector<uint8_t> header(kBuffer);
        int32_t size = kBuffer;
        ASSERT_EQ(NettlebeamAPIMemoryCaptureGetHeader(handle, header.data(), &size), 0);
        header.resize(static_cast<size_t>(size));
        std::vector<uint32_t> numbers;
        takeFrames(data, numbers);
        const std::string file = daemon().folder() + "/" + name + ".pcapng";
        std::ofstream out(file, std::ios::binary);
        out.write(reinterpret_cast<const char*>(header.data()),
                  static_cast<std::streamsize>(header.size()));
        out.write(reinterpret_cast<const char*>(data.data()),
                  static_cast<std::streamsize>(data.size()));
        out.close();
        EXPECT_EQ(tsharkFrames(file), static_cast<long>(numbers.size())) << name;
    }
};

// All 1..count frames come together 2 s into the replay, so the capture,
// started at attach, is running before they do.
std::vector<std::string> burst(const std::string& path, uint32_t count) {
    writeReplay(path, count + 1, [](uint32_t n) { return n == 0 ? 0 : 2000000; });
    return {"--replay", path};
}

TEST_F(MemoryCaptureTest, LibraryReadersAndTheDataRequestShareOneStream) {
    constexpr uint32_t kFrames = 60000;  // about 35 MB: the 64 MiB cache never drops
    const int32_t handle = attachCapturing(burst(daemon().folder() + "/burst.pcap", kFrames));
    const auto streams = drain(handle, kFrames, {true, true, false});
    expectEveryFrameOnce(streams, kFrames);
    EXPECT_TRUE(ringMapped()) << "the library read the shared ring";
    expectReadable(handle, streams[0], "first-library-reader");
    expectReadable(handle, streams[2], "data-request-reader");
}

TEST_F(MemoryCaptureTest, ReadsGoToTheDriverWhenItDoesNotShare) {
    constexpr uint32_t kFrames = 20000;
    const int32_t handle = attachCapturing(burst(daemon().folder() + "/burst.pcap", kFrames));
    inject(handle, kShareMemoryCapture, {"--fail", "--times", "100000"});
    const auto streams = drain(handle, kFrames, {true});
    expectEveryFrameOnce(streams, kFrames);
    EXPECT_FALSE(ringMapped());
    expectReadable(handle, streams[0], "library-reader");
}

TEST_F(MemoryCaptureTest, ANewCaptureNeverReadsTheRingOfTheOldOne) {
    constexpr uint32_t kLoop = 20000;  // frames 50 us apart, looping
    const std::string path = daemon().folder() + "/paced.pcap";
    writeReplay(path, kLoop, [](uint32_t n) { return uint64_t{n} * 50; });
    const int32_t handle = attachCapturing({"--replay", path, "--replay-loop"});
    ASSERT_TRUE(eventually([&] { return !libraryRead(handle).empty(); }));
    EXPECT_TRUE(ringMapped());

    // Another client stops and restarts the capture while frames wait unread
    // in the first ring; the library is not told.
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    int32_t result = -9;
    raw(handle, kMemoryCaptureStop, {}, 0, &result);
    ASSERT_EQ(result, 0);
    EXPECT_TRUE(libraryRead(handle).empty()) << "nothing runs: nothing to read";
    std::this_thread::sleep_for(std::chrono::milliseconds(200));  // frames nobody captures
    raw(handle, kMemoryCaptureStart, {}, 0, &result);
    ASSERT_EQ(result, 0);

    // What the library reads now, the driver's data request continues: both
    // read the new capture's ring.
    std::vector<uint32_t> library;
    ASSERT_TRUE(eventually([&] {
        takeFrames(libraryRead(handle), library);
        return !library.empty();
    }));
    std::vector<uint32_t> driver;
    ASSERT_TRUE(eventually([&] {
        takeFrames(raw(handle, kMemoryCaptureData, {}, kBuffer), driver);
        return !driver.empty();
    }));
    for (size_t i = 1; i < library.size(); ++i) ASSERT_EQ(library[i], (library[i - 1] + 1) % kLoop);
    EXPECT_EQ(driver.front(), (library.back() + 1) % kLoop)
        << "the library read " << library.front() << ".." << library.back();

    // The ring's memory lives as long as a mapping: the library lets go of
    // it when the capture stops through it, and when it shuts down.
    ASSERT_EQ(NettlebeamAPIMemoryCaptureStop(handle), 0);
    EXPECT_FALSE(ringMapped());
    ASSERT_EQ(NettlebeamAPIMemoryCaptureStart(handle, 0), 0);
    ASSERT_TRUE(eventually([&] { return !libraryRead(handle).empty(); }));
    EXPECT_TRUE(ringMapped());
    NettlebeamAPIUninitialize();
    EXPECT_FALSE(ringMapped());
}

TEST_F(MemoryCaptureTest, DriverFailuresStillReachTheCaller) {
    const std::string path = daemon().folder() + "/paced.pcap";
    writeReplay(path, 2000, [](uint32_t n) { return uint64_t{n} * 100; });
    const int32_t handle = attachCapturing({"--replay", path, "--replay-loop"});
    ASSERT_TRUE(eventually([&] { return !libraryRead(handle).empty(); }));
    ASSERT_TRUE(ringMapped());

    // A fault armed for the data request reaches the next read even though
    // the library had the ring mapped.
    inject(handle, kMemoryCaptureData, {"--fail"});
    std::vector<uint8_t> buffer(kBuffer);
    int32_t size = kBuffer;
    EXPECT_EQ(NettlebeamAPIMemoryCaptureGet(handle, buffer.data(), &size), -1);
    EXPECT_EQ(size, -2);
    size = kBuffer;
    EXPECT_TRUE(eventually([&] {
        size = kBuffer;
        return NettlebeamAPIMemoryCaptureGet(handle, buffer.data(), &size) == 0 && size > 0;
    })) << "and only that read";

    // A driver that is gone fails the read, whatever is still in the ring;
    // once the library has noticed, the device is unknown instead.
    daemon().stop();
    size = kBuffer;
    const int32_t result = NettlebeamAPIMemoryCaptureGet(handle, buffer.data(), &size);
    EXPECT_TRUE(result == -1 || result == NETTLEBEAM_STATUS_UNKNOWN_HANDLE) << result;
    if (result == -1) {
        EXPECT_EQ(size, -1);
    }
}

TEST_F(MemoryCaptureTest, AnImpossibleBlockFailsTheReadAndTheDriverTakesOver) {
    namespace ring = wire::ring;
    const std::string path = daemon().folder() + "/paced.pcap";
    constexpr uint32_t kLoop = 2000;
    writeReplay(path, kLoop, [](uint32_t n) { return uint64_t{n} * 100; });
    const int32_t handle = attachCapturing({"--replay", path, "--replay-loop"});
    ASSERT_TRUE(eventually([&] { return !libraryRead(handle).empty(); }));

    // Another client of the ring moves the tail into the middle of a block.
    auto other = ring::SharedCaptureRing::open(daemon().controlPath(), handle);
    ASSERT_TRUE(other);
    auto tail = ring::word64(other->controlPage(), ring::kTailAt);
    auto head = ring::word64(other->controlPage(), ring::kHeadAt);
    ASSERT_TRUE(eventually([&] { return head.load() - tail.load() >= 64; }));
    uint64_t at = tail.load();
    ASSERT_TRUE(tail.compare_exchange_strong(at, at + 4));

    std::vector<uint8_t> buffer(kBuffer);
    int32_t size = kBuffer;
    EXPECT_EQ(NettlebeamAPIMemoryCaptureGet(handle, buffer.data(), &size), -1);
    EXPECT_EQ(size, -2);

    // The next reads ask the driver, which finds the same fault and goes on
    // without sharing: whole, unchanged frames in order again.
    std::vector<uint32_t> numbers;
    ASSERT_TRUE(eventually([&] {
        takeFrames(libraryRead(handle), numbers);
        return numbers.size() >= 100;
    }));
    for (size_t i = 1; i < numbers.size(); ++i) ASSERT_EQ(numbers[i], (numbers[i - 1] + 1) % kLoop);
    EXPECT_EQ(ring::word32(other->controlPage(), ring::kStateAt).load(), ring::kClosed);
}

}  // namespace
}  // namespace nettlebeam::apitest
