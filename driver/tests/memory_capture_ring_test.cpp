// The memory capture's shared ring from the driver's side: readers in and
// out of the driver share one tail, a client's impossible tail never lets
// the producer overwrite unread blocks, and what clients are given cannot
// be turned against the driver.
#include <gtest/gtest.h>
#include <pcap/pcap.h>
#include <sys/mman.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <set>
#include <thread>
#include <vector>

#include "capture_ring.h"
#include "client.h"
#include "nettlebeam_testsupport.h"
#include "request_codes.h"
#include "traffic/byte_ring.h"
#include "traffic/memory_capture.h"
#include "traffic/pcapng.h"

namespace nettlebeam::traffic {
namespace {

namespace ring = wire::ring;
namespace code = wire::code;

// A block of `length` bytes whose body carries `sequence` in every word.
void writeBlock(uint8_t* at, uint32_t length, uint32_t sequence) {
    const uint32_t type = pcapng::kEnhancedPacket;
    std::memcpy(at, &type, 4);
    std::memcpy(at + 4, &length, 4);
    for (uint32_t i = 8; i + 4 <= length; i += 4) std::memcpy(at + i, &sequence, 4);
}

// Checks whole blocks written by writeBlock and appends their sequences.
void collect(const uint8_t* bytes, size_t length, std::vector<uint32_t>& sequences) {
    size_t at = 0;
    while (at < length) {
        const uint32_t block = pcapng::blockLength(bytes + at);
        ASSERT_GE(block, 32u);
        ASSERT_LE(at + block, length);
        uint32_t sequence;
        std::memcpy(&sequence, bytes + at + 8, 4);
        for (uint32_t i = 8; i + 4 <= block; i += 4)
            ASSERT_EQ(std::memcmp(bytes + at + i, &sequence, 4), 0) << "a torn block";
        sequences.push_back(sequence);
        at += block;
    }
}

// A client of the ring in this process: its own mappings of what the driver
// would hand over, taking blocks the way the library does.
struct Client {
    explicit Client(SharedByteRing& shared) : capacity(shared.capacity()) {
        control =
            static_cast<uint8_t*>(mmap(nullptr, ring::kControlPageSize, PROT_READ | PROT_WRITE,
                                       MAP_SHARED, shared.controlFd(), 0));
        auto* area = static_cast<uint8_t*>(
            mmap(nullptr, 2 * capacity, PROT_NONE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0));
        for (uint8_t* half : {area, area + capacity})
            mmap(half, capacity, PROT_READ, MAP_SHARED | MAP_FIXED, shared.dataFd(), 0);
        data = area;
    }
    ~Client() {
        munmap(data, 2 * capacity);
        munmap(control, ring::kControlPageSize);
    }
    size_t take(uint8_t* out, size_t limit) {
        auto tailWord = ring::word64(control, ring::kTailAt);
        for (;;) {
            uint64_t tail = tailWord.load(std::memory_order_acquire);
            const uint64_t head =
                ring::word64(control, ring::kHeadAt).load(std::memory_order_acquire);
            const ring::Walk walk = ring::walkBlocks(data, capacity, tail, head, limit);
            if (!walk.sound) continue;  // raced: the tail has moved on
            if (walk.bytes == 0) return 0;
            std::memcpy(out, data + tail % capacity, walk.bytes);
            if (tailWord.compare_exchange_strong(tail, tail + walk.bytes,
                                                 std::memory_order_acq_rel))
                return walk.bytes;
        }
    }
    void setTail(uint64_t tail) { ring::word64(control, ring::kTailAt).store(tail); }
    uint64_t head() const { return ring::word64(control, ring::kHeadAt).load(); }
    uint32_t state() const { return ring::word32(control, ring::kStateAt).load(); }

    size_t capacity;
    uint8_t* control = nullptr;
    uint8_t* data = nullptr;
};

TEST(SharedByteRing, ReadersInAndOutOfTheDriverGetEveryBlockOnce) {
    SharedByteRing shared(1 << 16, 1);  // small: it wraps thousands of times
    Client client(shared);
    constexpr uint32_t kBlocks = 200000;
    std::atomic<bool> produced{false};
    std::thread producer([&] {
        for (uint32_t sequence = 0; sequence < kBlocks;) {
            const uint32_t length = 32 + 4 * (sequence % 60);
            uint8_t* block = shared.reserve(length);
            if (block == nullptr) {
                std::this_thread::yield();
                continue;
            }
            writeBlock(block, length, sequence++);
            shared.commit(length);
        }
        produced = true;
    });
    std::vector<uint32_t> fromDriver, fromClient;
    auto drain = [&](auto take, std::vector<uint32_t>& sequences) {
        std::vector<uint8_t> buffer(4096);
        for (;;) {
            const bool last = produced.load();
            const size_t got = take(buffer.data(), buffer.size());
            collect(buffer.data(), got, sequences);
            if (got == 0 && last) return;
        }
    };
    std::thread driverReader([&] {
        drain(
            [&](uint8_t* out, size_t limit) {
                size_t taken = 0;
                EXPECT_TRUE(shared.take(out, limit, taken));
                return taken;
            },
            fromDriver);
    });
    drain([&](uint8_t* out, size_t limit) { return client.take(out, limit); }, fromClient);
    producer.join();
    driverReader.join();

    EXPECT_GT(fromDriver.size(), 0u);
    EXPECT_GT(fromClient.size(), 0u);
    EXPECT_TRUE(std::is_sorted(fromDriver.begin(), fromDriver.end()));
    EXPECT_TRUE(std::is_sorted(fromClient.begin(), fromClient.end()));
    std::vector<uint32_t> all = fromDriver;
    all.insert(all.end(), fromClient.begin(), fromClient.end());
    std::sort(all.begin(), all.end());
    ASSERT_EQ(all.size(), kBlocks) << "no block lost or taken twice";
    for (uint32_t i = 0; i < kBlocks; ++i) ASSERT_EQ(all[i], i);
}

TEST(SharedByteRing, AnImpossibleTailNeverLetsTheProducerOverwriteUnreadBlocks) {
    for (const char* where : {"beyond the head", "behind where it was"}) {
        SharedByteRing shared(1 << 16, 1);
        Client client(shared);
        uint32_t sequence = 0;
        // Fill, let the client take some, fill again to the brim.
        while (uint8_t* block = shared.reserve(256)) {
            writeBlock(block, 256, sequence++);
            shared.commit(256);
        }
        std::vector<uint8_t> buffer(4096);
        ASSERT_EQ(client.take(buffer.data(), buffer.size()), 4096u);
        while (uint8_t* block = shared.reserve(256)) {
            writeBlock(block, 256, sequence++);
            shared.commit(256);
        }
        const std::vector<uint8_t> unread(
            client.data + 4096 % shared.capacity(),
            client.data + 4096 % shared.capacity() + shared.capacity());
        client.setTail(std::string(where) == "beyond the head" ? client.head() + (1 << 20) : 0);

        EXPECT_EQ(shared.reserve(256), nullptr) << where;
        EXPECT_TRUE(shared.tailFaulted()) << where;
        EXPECT_TRUE(
            std::equal(unread.begin(), unread.end(), client.data + 4096 % shared.capacity()))
            << where << ": nothing was written";
        size_t taken = 99;
        EXPECT_FALSE(shared.take(buffer.data(), buffer.size(), taken)) << where;
        EXPECT_EQ(taken, 0u);

        // Sharing stops; the ring carries on with a tail of its own.
        shared.detach();
        EXPECT_FALSE(shared.shared());
        EXPECT_EQ(client.state(), ring::kClosed);
        uint8_t* block = shared.reserve(256);
        ASSERT_NE(block, nullptr);
        writeBlock(block, 256, sequence);
        shared.commit(256);
        client.setTail(12345);  // ignored from now on
        ASSERT_TRUE(shared.take(buffer.data(), buffer.size(), taken));
        std::vector<uint32_t> sequences;
        collect(buffer.data(), taken, sequences);
        EXPECT_EQ(sequences, std::vector<uint32_t>{sequence}) << where;
    }
}

TEST(SharedByteRing, ClientsCanNeitherWriteTheDataNorResizeEitherFile) {
    SharedByteRing shared(1 << 16, 1);
    errno = 0;
    EXPECT_EQ(
        mmap(nullptr, shared.capacity(), PROT_READ | PROT_WRITE, MAP_SHARED, shared.dataFd(), 0),
        MAP_FAILED);
    EXPECT_EQ(errno, EPERM);
    void* readOnly = mmap(nullptr, shared.capacity(), PROT_READ, MAP_SHARED, shared.dataFd(), 0);
    ASSERT_NE(readOnly, MAP_FAILED);
    EXPECT_NE(mprotect(readOnly, shared.capacity(), PROT_READ | PROT_WRITE), 0);
    munmap(readOnly, shared.capacity());
    EXPECT_NE(write(shared.dataFd(), "x", 1), 1);
    for (int fd : {shared.dataFd(), shared.controlFd()}) {
        EXPECT_NE(ftruncate(fd, 0), 0) << "shrinking would fault the driver's next access";
        EXPECT_NE(ftruncate(fd, 1 << 30), 0);
    }
}

TEST(MemoryCaptureShare, EachCaptureHasItsOwnRingAndStoppingClosesIt) {
    MemoryCapture memory;
    EXPECT_FALSE(memory.share()) << "nothing runs";
    ASSERT_TRUE(memory.start(65535, 1 << 16));
    auto first = memory.share();
    ASSERT_TRUE(first);
    auto* control = static_cast<uint8_t*>(
        mmap(nullptr, ring::kControlPageSize, PROT_READ, MAP_SHARED, first->controlFd, 0));
    EXPECT_EQ(ring::word32(control, ring::kStateAt).load(), ring::kOpen);
    ASSERT_TRUE(memory.start(65535, 1 << 16));  // a restart
    EXPECT_EQ(ring::word32(control, ring::kStateAt).load(), ring::kClosed);
    auto second = memory.share();
    ASSERT_TRUE(second);
    EXPECT_NE(second->generation, first->generation);
    memory.stop();
    EXPECT_FALSE(memory.share());
    munmap(control, ring::kControlPageSize);
    for (int fd : {first->dataFd, first->controlFd, second->dataFd, second->controlFd}) close(fd);
}

// --- Against a running nettlebeamd ------------------------------------------

struct DaemonDevice {
    testsupport::Daemon daemon;
    int handle = 0;

    std::vector<uint8_t> input() const {
        std::vector<uint8_t> bytes(4);
        std::memcpy(bytes.data(), &handle, 4);
        return bytes;
    }
    int32_t request(uint32_t c, std::vector<uint8_t>* reply = nullptr, uint32_t capacity = 0,
                    std::vector<uint8_t> payload = {}) const {
        std::vector<uint8_t> in = input();
        in.insert(in.end(), payload.begin(), payload.end());
        std::vector<uint8_t> out(capacity);
        const int32_t n = wire::transact(daemon.controlPath(), c, in.data(),
                                         static_cast<uint32_t>(in.size()), out.data(), capacity);
        if (reply) reply->assign(out.begin(), out.begin() + std::max(n, 0));
        return n;
    }
    bool startMemoryCapture() const {
        return request(code::kMemoryCaptureMode, nullptr, 0, {0, 0, 0, 0}) == 0 &&
               request(code::kMemoryCaptureStart) == 0;
    }
};

// Replays `frames` frames of 200 bytes in a loop, each numbered, at 20000 frames/s.
std::string writeNumberedReplay(const std::string& folder, uint32_t frames) {
    const std::string path = folder + "/numbered.pcap";
    pcap_t* dead = pcap_open_dead(DLT_EN10MB, 65535);
    pcap_dumper_t* dumper = pcap_dump_open(dead, path.c_str());
    std::vector<uint8_t> frame(200, 0);
    frame[12] = 0x88;
    frame[13] = 0xB5;
    for (uint32_t i = 0; i < frames; ++i) {
        std::memcpy(frame.data() + 14, &i, 4);
        pcap_pkthdr header{};
        header.ts.tv_usec = static_cast<suseconds_t>(i * 50);
        header.caplen = header.len = static_cast<bpf_u_int32>(frame.size());
        pcap_dump(reinterpret_cast<u_char*>(dumper), &header, frame.data());
    }
    pcap_dump_close(dumper);
    pcap_close(dead);
    return path;
}

// The frame numbers of whole enhanced packet blocks.
std::vector<uint32_t> frameNumbers(const std::vector<uint8_t>& bytes) {
    std::vector<uint32_t> numbers;
    for (size_t at = 0; at < bytes.size();) {
        const uint32_t length = pcapng::blockLength(bytes.data() + at);
        EXPECT_GE(length, 32u);
        if (length < 32 || at + length > bytes.size()) {
            ADD_FAILURE() << "a block runs past the reply";
            break;
        }
        uint32_t number;
        std::memcpy(&number, bytes.data() + at + 28 + 14, 4);
        numbers.push_back(number);
        at += length;
    }
    return numbers;
}

TEST(MemoryCaptureShareDaemon, RefusedWhereThereIsNothingToShare) {
    DaemonDevice device;
    device.handle = device.daemon.attach({"--type", "5"});
    const std::string path = device.daemon.controlPath();
    EXPECT_FALSE(ring::SharedCaptureRing::open(path, device.handle)) << "no capture runs";
    ASSERT_TRUE(device.startMemoryCapture());
    EXPECT_FALSE(ring::SharedCaptureRing::open(path, device.handle + 1)) << "unknown handle";
    // Armed for the data request: the next read must come to the driver.
    device.daemon.inject({std::to_string(device.handle), "0xCB202C0B", "--fail"});
    EXPECT_FALSE(ring::SharedCaptureRing::open(path, device.handle));
    EXPECT_EQ(device.request(code::kMemoryCaptureData, nullptr, 1 << 19), -2);
    EXPECT_TRUE(ring::SharedCaptureRing::open(path, device.handle));

    // A device without capture refuses as it refuses the other capture requests.
    const int noCapture = device.daemon.attach({"--hwid", "0x4A"});
    EXPECT_FALSE(ring::SharedCaptureRing::open(path, noCapture));
}

TEST(MemoryCaptureShareDaemon, AClientsImpossibleTailStopsSharingButNotTheCapture) {
    for (const char* where : {"beyond the head", "back to the start"}) {
        DaemonDevice device;
        const std::string replay = writeNumberedReplay(device.daemon.folder(), 20000);
        device.handle = device.daemon.attach({"--type", "5", "--replay", replay, "--replay-loop"});
        ASSERT_TRUE(device.startMemoryCapture());
        const std::string path = device.daemon.controlPath();
        auto shared = ring::SharedCaptureRing::open(path, device.handle);
        ASSERT_TRUE(shared);
        std::vector<uint8_t> buffer(1 << 19);
        size_t bytes = 0;
        for (int i = 0; i < 500 && bytes == 0; ++i) {
            ASSERT_EQ(shared->read(buffer.data(), buffer.size(), bytes),
                      ring::SharedCaptureRing::Outcome::Read);
            if (bytes == 0) std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        ASSERT_GT(bytes, 0u) << "the replay reaches the capture";
        // The driver's own read: from here on it knows how far the tail got,
        // so a tail moved back behind that is seen.
        std::vector<uint8_t> reply;
        for (int i = 0; i < 500 && reply.empty(); ++i) {
            ASSERT_GE(device.request(code::kMemoryCaptureData, &reply, 1 << 19), 0);
            if (reply.empty()) std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        ASSERT_FALSE(reply.empty());

        auto tail = ring::word64(shared->controlPage(), ring::kTailAt);
        const uint64_t head = ring::word64(shared->controlPage(), ring::kHeadAt).load();
        tail.store(std::string(where) == "beyond the head" ? head + (8u << 20) : 0);

        // The driver notices at its next read or when the producer needs room.
        ASSERT_GE(device.request(code::kMemoryCaptureData, &reply, 1 << 19), 0) << where;
        EXPECT_EQ(ring::word32(shared->controlPage(), ring::kStateAt).load(), ring::kClosed)
            << where;
        EXPECT_EQ(shared->read(buffer.data(), buffer.size(), bytes),
                  ring::SharedCaptureRing::Outcome::Closed);
        EXPECT_FALSE(ring::SharedCaptureRing::open(path, device.handle))
            << where << ": not shared again in this capture";

        // The capture goes on through the data request: whole blocks, in order.
        std::vector<uint32_t> numbers;
        for (int i = 0; i < 500 && numbers.size() < 2000; ++i) {
            ASSERT_GE(device.request(code::kMemoryCaptureData, &reply, 1 << 19), 0);
            for (uint32_t n : frameNumbers(reply)) numbers.push_back(n);
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        ASSERT_GE(numbers.size(), 2000u) << where;
        for (size_t i = 1; i < numbers.size(); ++i)
            ASSERT_EQ(numbers[i], (numbers[i - 1] + 1) % 20000) << where << " at " << i;
        EXPECT_EQ(device.daemon.run({"devices"}).exitStatus, 0) << "the daemon still serves";

        // A new capture is shared again.
        ASSERT_EQ(device.request(code::kMemoryCaptureStop), 0);
        ASSERT_EQ(device.request(code::kMemoryCaptureStart), 0);
        EXPECT_TRUE(ring::SharedCaptureRing::open(path, device.handle)) << where;
    }
}

TEST(MemoryCaptureShareDaemon, DetachingTheDeviceEndsTheSharedConnection) {
    DaemonDevice device;
    device.handle = device.daemon.attach({"--type", "5"});
    ASSERT_TRUE(device.startMemoryCapture());
    auto shared = ring::SharedCaptureRing::open(device.daemon.controlPath(), device.handle);
    ASSERT_TRUE(shared);
    std::vector<uint8_t> buffer(4096);
    size_t bytes = 0;
    EXPECT_EQ(shared->read(buffer.data(), buffer.size(), bytes),
              ring::SharedCaptureRing::Outcome::Read);
    device.daemon.detach(device.handle);
    EXPECT_EQ(shared->read(buffer.data(), buffer.size(), bytes),
              ring::SharedCaptureRing::Outcome::Closed);
}

}  // namespace
}  // namespace nettlebeam::traffic
