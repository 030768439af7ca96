// Frames the kernel drops on an interface device's receive ring, on a veth
// pair the test builds: the daemon is stopped while tcpreplay sends more
// than the ring holds, so the kernel must drop; every frame that reached
// the interface is then either captured or counted as a host drop, and the
// capture file's interface statistics carry the same drops.
#include <gtest/gtest.h>
#include <pcap/pcap.h>
#include <signal.h>

#include <cstring>
#include <fstream>
#include <iterator>

#include "netif_test_support.h"
#include "request_codes.h"

namespace nettlebeam::netif {
namespace {

namespace code = wire::code;
using testing::Device;
using testing::eventually;
using testing::TestNetwork;
using testsupport::Daemon;

// Full-size frames numbered in their payload, to an address nobody has.
void writeNumberedFrames(const std::string& path, uint32_t count) {
    pcap_t* dead = pcap_open_dead(DLT_EN10MB, 65535);
    pcap_dumper_t* dumper = pcap_dump_open(dead, path.c_str());
    for (uint32_t i = 0; i < count; ++i) {
        std::vector<uint8_t> f = {0x02, 0x11, 0x22, 0x33, 0x44, 0x55, 0x02,
                                  0x66, 0x77, 0x88, 0x99, 0xAA, 0x88, 0xB5};
        for (int b = 3; b >= 0; --b) f.push_back(static_cast<uint8_t>(i >> (8 * b)));
        f.resize(1514, static_cast<uint8_t>(i));
        pcap_pkthdr header{};
        header.ts.tv_usec = static_cast<suseconds_t>(i % 1000000);
        header.caplen = header.len = static_cast<bpf_u_int32>(f.size());
        pcap_dump(reinterpret_cast<u_char*>(dumper), &header, f.data());
    }
    pcap_dump_close(dumper);
    pcap_close(dead);
}

// The frame numbers in a capture file, in file order.
std::vector<uint32_t> frameNumbers(const std::string& path) {
    char error[PCAP_ERRBUF_SIZE];
    pcap_t* file = pcap_open_offline(path.c_str(), error);
    if (file == nullptr) throw std::runtime_error(error);
    std::vector<uint32_t> numbers;
    pcap_pkthdr* header = nullptr;
    const u_char* data = nullptr;
    while (pcap_next_ex(file, &header, &data) == 1) {
        if (header->caplen < 18) throw std::runtime_error("a frame without its number");
        numbers.push_back((uint32_t{data[14]} << 24) | (uint32_t{data[15]} << 16) |
                          (uint32_t{data[16]} << 8) | data[17]);
    }
    pcap_close(file);
    return numbers;
}

struct InterfaceStatistics {
    uint64_t received = UINT64_MAX;  // isb_ifrecv
    uint64_t dropped = UINT64_MAX;   // isb_ifdrop
};

// The last interface statistics block of interface 0 in a pcapng file
// written on this (little-endian) machine.
InterfaceStatistics portAStatistics(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    const std::vector<uint8_t> bytes{std::istreambuf_iterator<char>(in), {}};
    auto u32 = [&](size_t at) {
        uint32_t v;
        std::memcpy(&v, bytes.data() + at, 4);
        return v;
    };
    InterfaceStatistics found;
    for (size_t at = 0; at + 12 <= bytes.size();) {
        const uint32_t type = u32(at), length = u32(at + 4);
        if (length < 12 || at + length > bytes.size()) break;  // still being written
        // Type, length, interface, timestamp (8), then the options.
        if (type == 5 && u32(at + 8) == 0) {
            for (size_t o = at + 20; o + 4 <= at + length - 4;) {
                const uint16_t option = static_cast<uint16_t>(u32(o));
                const uint16_t size = static_cast<uint16_t>(u32(o) >> 16);
                if (option == 0) break;
                uint64_t value = 0;
                if (size == 8) std::memcpy(&value, bytes.data() + o + 4, 8);
                if (option == 4) found.received = value;
                if (option == 5) found.dropped = value;
                o += 4 + ((size + 3u) & ~3u);
            }
        }
        at += length;
    }
    return found;
}

uint64_t portAFrames(const Device& device) {
    const auto reply = device.request(code::kStatisticsFormat2, {}, 128);
    uint64_t v = 0;
    for (size_t b = 0; b < 8 && reply.size() == 128; ++b) v |= uint64_t{reply[b]} << (8 * b);
    return v;
}

uint64_t hostDrops(const Device& device) {
    const auto reply = device.request(code::kHostDropCounter, {}, 8);
    uint64_t v = 0;
    for (size_t b = 0; b < 8 && reply.size() == 8; ++b) v |= uint64_t{reply[b]} << (8 * b);
    return v;
}

uint64_t receivedByInterface(const std::string& name) {
    std::ifstream in("/sys/class/net/" + name + "/statistics/rx_packets");
    uint64_t v = 0;
    in >> v;
    return v;
}

// Keeps the daemon stopped for its lifetime, so that a failing assertion
// never leaves it stopped for the fixture's clean-up.
class Stopped {
  public:
    explicit Stopped(pid_t pid) : pid_(pid) { kill(pid_, SIGSTOP); }
    ~Stopped() { kill(pid_, SIGCONT); }
    Stopped(const Stopped&) = delete;
    Stopped& operator=(const Stopped&) = delete;

  private:
    pid_t pid_;
};

TEST(InterfaceRingDrops, FramesTheKernelDropsOnAFullRingAreHostDropsAndInTheCaptureStatistics) {
    TestNetwork net('d');
    const std::string space = net.addNamespace("d");
    const std::string port = net.addPort("A", space);
    Daemon daemon;
    const Device device{daemon, daemon.attach({"--interfaces", port})};
    // 30 MB of frames: about twice what the receive ring holds.
    constexpr uint32_t kFrames = 20000;
    const std::string input = daemon.folder() + "/numbered.pcap";
    writeNumberedFrames(input, kFrames);
    ASSERT_TRUE(testing::configureCapture(device, daemon.folder() + "/drops.pcapng"));
    ASSERT_TRUE(device.command(code::kCaptureStart));

    const uint64_t before = receivedByInterface(port);
    {
        const Stopped stopped(daemon.pid());
        // Paced, so that every frame gets past the veth into the ring or
        // its drop counter.
        const auto replay =
            TestNetwork::in(space, {"tcpreplay", "-q", "--pps=40000", "-i", port + "p", input});
        ASSERT_EQ(replay.exitStatus, 0) << replay.err << replay.out;
    }
    const uint64_t arrived = receivedByInterface(port) - before;
    ASSERT_EQ(arrived, kFrames) << "the veth lost frames before the ring";

    // Each frame that reached the interface is taken or counted lost.
    ASSERT_TRUE(eventually([&] { return portAFrames(device) + hostDrops(device) >= arrived; }))
        << portAFrames(device) << " taken, " << hostDrops(device) << " dropped";
    const uint64_t taken = portAFrames(device);
    const uint64_t dropped = hostDrops(device);
    EXPECT_EQ(taken + dropped, arrived) << taken << " taken, " << dropped << " dropped";
    EXPECT_GT(dropped, arrived / 4) << "the ring overflowed";
    EXPECT_GT(taken, 1000u) << "the ring was full when the daemon went on";
    ASSERT_TRUE(device.command(code::kCaptureStop));

    // The capture holds what was taken, in order, and its statistics the drops.
    const std::string file = testing::capturedFile(daemon.folder(), "drops");
    ASSERT_FALSE(file.empty());
    ASSERT_TRUE(eventually([&] { return portAStatistics(file).dropped != UINT64_MAX; }))
        << "the file is closed with its statistics";
    const auto numbers = frameNumbers(file);
    EXPECT_EQ(numbers.size(), taken);
    for (size_t i = 1; i < numbers.size(); ++i)
        ASSERT_LT(numbers[i - 1], numbers[i]) << "frame " << i << " out of order";
    const InterfaceStatistics isb = portAStatistics(file);
    EXPECT_EQ(isb.dropped, dropped);
    EXPECT_EQ(isb.received, arrived);
}

}  // namespace
}  // namespace nettlebeam::netif
