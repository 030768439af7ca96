// Devices whose ports are Linux network interfaces, on veth pairs the test
// builds: what the daemon refuses to attach, real frames replayed into a
// port reaching the capture and the counters exactly as tshark sees them,
// the header and DPI filters (wildcard bytes too) keeping what tshark
// filters keep, the kernel's link state followed live and asked for speed
// changes, and an interface without a module EEPROM reporting no module.
#include <fcntl.h>
#include <grp.h>
#include <gtest/gtest.h>
#include <linux/capability.h>
#include <pcap/pcap.h>
#include <pwd.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <regex>
#include <thread>

#include "client.h"
#include "netif_test_support.h"
#include "request_codes.h"
#include "traffic_test_support.h"

namespace nettlebeam::netif {
namespace {

namespace code = wire::code;
using testing::configureCapture;
using testing::Device;
using testing::eventually;
using testing::le;
using testing::TestNetwork;
using testsupport::Daemon;
using traffic::testing::runShell;

// Programmable counter `index` (format-2 statistics).
uint64_t counter(const Device& device, size_t index) {
    const auto reply = device.request(code::kStatisticsFormat2, {}, 128);
    if (reply.size() != 128) return UINT64_MAX;
    uint64_t v = 0;
    for (size_t b = 0; b < 8; ++b) v |= uint64_t{reply[8 * index + b]} << (8 * b);
    return v;
}

// One line of text: the command's complaint.
bool oneLine(const std::string& text) {
    return !text.empty() && std::count(text.begin(), text.end(), '\n') == 1 && text.back() == '\n';
}

TEST(InterfaceDevice, RefusesWhatCannotBeAPortWithOneLineNamingItAndAttachesNothing) {
    TestNetwork net('r');
    const std::string space = net.addNamespace("r");
    const std::string port = net.addPort("A", space);
    const std::string tun = net.addTun("T");
    Daemon daemon;
    const std::string missing = port + "x";
    const std::vector<std::pair<std::string, std::string>> refused = {
        {missing, "interface " + missing + " does not exist"},
        {"lo", "interface lo is a loopback interface"},
        {tun, "interface " + tun + " is not an Ethernet interface"},
        {port + "," + port, "interface " + port + " cannot be both ports"},
    };
    for (const auto& [interfaces, complaint] : refused) {
        const auto result = daemon.run({"attach", "--interfaces", interfaces});
        EXPECT_NE(result.exitStatus, 0) << interfaces;
        EXPECT_TRUE(oneLine(result.err)) << result.err;
        EXPECT_NE(result.err.find(complaint), std::string::npos) << result.err;
    }
    EXPECT_EQ(daemon.run({"devices"}).out, "") << "nothing attached";

    const int handle = daemon.attach({"--interfaces", port});
    const auto again = daemon.run({"attach", "--interfaces", port});
    EXPECT_NE(again.exitStatus, 0);
    EXPECT_TRUE(oneLine(again.err)) << again.err;
    EXPECT_NE(again.err.find("interface " + port + " is already a port of device " +
                             std::to_string(handle)),
              std::string::npos)
        << again.err;
    const std::string listing = daemon.run({"devices"}).out;
    EXPECT_EQ(std::count(listing.begin(), listing.end(), '\n'), 1) << listing;

    // Once detached, the interface is free again.
    daemon.detach(handle);
    EXPECT_GT(daemon.attach({"--interfaces", port}), handle);
}

TEST(InterfaceDevice, AFleetFileAttachesInterfacesAndAnInterfaceTakenTwiceIsRefused) {
    TestNetwork net('f');
    const std::string space = net.addNamespace("f");
    const std::string port = net.addPort("A", space);
    traffic::testing::TempFolder folder;
    const std::string fleet = folder.path() + "/fleet";
    {
        std::ofstream out(fleet);
        out << "--interfaces " << port << " --type 14\n--interfaces " << port << "\n";
    }
    // The daemon serves the first device and keeps running without the second.
    Daemon daemon({"--fleet", fleet});
    const std::string listing = daemon.run({"devices"}).out;
    EXPECT_EQ(std::count(listing.begin(), listing.end(), '\n'), 1) << listing;
    EXPECT_NE(listing.find("type 14"), std::string::npos) << listing;
    EXPECT_NE(listing.find("interfaces " + port), std::string::npos) << listing;
}

// In a forked child that `losePrivileges` has made what the test needs, a
// daemon is asked to attach `port`: true when attach fails with one line
// naming `capability` and how to grant it, and the daemon serves no device.
bool attachRefusedForLackOf(const std::string& port, const std::string& capability,
                            const std::function<bool()>& losePrivileges) {
    const pid_t child = fork();
    if (child < 0) return false;
    if (child == 0) {
        int status = 2;
        if (losePrivileges()) {
            try {
                Daemon daemon;
                const auto result = daemon.run({"attach", "--interfaces", port});
                std::fprintf(stderr, "%s", result.err.c_str());
                const bool says =
                    result.err.find("the daemon lacks " + capability) != std::string::npos &&
                    result.err.find("setcap cap_net_raw,cap_net_admin+ep") != std::string::npos;
                status = result.exitStatus != 0 && oneLine(result.err) && says &&
                                 daemon.run({"devices"}).out.empty()
                             ? 0
                             : 1;
            } catch (const std::exception& e) {
                std::fprintf(stderr, "%s\n", e.what());
            }
        }
        _exit(status);
    }
    int status = 0;
    return waitpid(child, &status, 0) == child && WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

// The daemon runs without the capability: the child drops it from its
// bounding set, so the daemon it starts can never hold it.
TEST(InterfaceDevice, WithoutTheCapabilityAttachSaysWhichAndHowToGrantIt) {
    TestNetwork net('c');
    const std::string space = net.addNamespace("c");
    const std::string port = net.addPort("A", space);
    for (int dropped : {CAP_NET_RAW, CAP_NET_ADMIN}) {
        const std::string name = dropped == CAP_NET_RAW ? "CAP_NET_RAW" : "CAP_NET_ADMIN";
        EXPECT_TRUE(attachRefusedForLackOf(port, name, [dropped] {
            return prctl(PR_CAPBSET_DROP, dropped, 0, 0, 0) == 0;
        })) << name;
    }
}

// Copies the daemon into `folder` for a user who may not reach the build
// tree; the copy is world-readable and executable. Empty on failure.
std::string copyDaemonInto(const std::string& folder) {
    const int dir = open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (dir < 0) return {};
    const bool opened = fchmod(dir, 0755) == 0;
    close(dir);
    const std::string copy = folder + "/nettlebeamd";
    std::ifstream in(testsupport::Daemon::binaryPath(), std::ios::binary);
    const int out = open(copy.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0700);
    if (!opened || !in || out < 0) return {};
    const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    const bool written =
        write(out, bytes.data(), bytes.size()) == static_cast<ssize_t>(bytes.size()) &&
        fchmod(out, 0755) == 0;
    close(out);
    return written ? copy : std::string();
}

// An ordinary user's daemon holds neither capability: attach names the first
// it lacks and how to grant it, and serves no device.
TEST(InterfaceDevice, AnOrdinaryUsersDaemonRefusesInterfaceDevices) {
    TestNetwork net('u');
    const std::string space = net.addNamespace("u");
    const std::string port = net.addPort("A", space);
    const passwd* nobody = getpwnam("nobody");
    ASSERT_NE(nobody, nullptr);
    ASSERT_NE(nobody->pw_uid, 0u);
    const uid_t uid = nobody->pw_uid;
    const gid_t gid = nobody->pw_gid;
    traffic::testing::TempFolder folder;
    const std::string program = copyDaemonInto(folder.path());
    ASSERT_FALSE(program.empty()) << std::strerror(errno);

    EXPECT_TRUE(attachRefusedForLackOf(port, "CAP_NET_RAW", [&] {
        setenv("NETTLEBEAM_TEST_DAEMON", program.c_str(), 1);
        // The leak checker's suppressions may lie in a tree that user cannot
        // read; the daemon needs none.
        unsetenv("LSAN_OPTIONS");
        return setgroups(0, nullptr) == 0 && setresgid(gid, gid, gid) == 0 &&
               setresuid(uid, uid, uid) == 0;
    }));
}

// Ethernet frames with a sequence number, of every kind the default
// counters tell apart, in sizes from the shortest to a full frame.
void writeReplayFile(const std::string& path, size_t count) {
    pcap_t* dead = pcap_open_dead(DLT_EN10MB, 65535);
    pcap_dumper_t* dumper = pcap_dump_open(dead, path.c_str());
    for (size_t i = 0; i < count; ++i) {
        const size_t kind = i % 5;
        std::vector<uint8_t> f;
        const uint8_t broadcast[6] = {0xff, 0xff, 0xff, 0xff, 0xff, 0xff};
        const uint8_t unicast[6] = {0x02, 0x11, 0x22, 0x33, 0x44, 0x55};
        const uint8_t source[6] = {0x02, 0x66, 0x77, 0x88, 0x99, static_cast<uint8_t>(i)};
        f.insert(f.end(), kind == 4 ? broadcast : unicast, (kind == 4 ? broadcast : unicast) + 6);
        f.insert(f.end(), source, source + 6);
        const size_t length = 60 + (i * 97) % 1455;  // 60 to 1514 bytes
        if (kind == 4) {                             // ARP request
            f.insert(f.end(), {0x08, 0x06, 0, 1, 8, 0, 6, 4, 0, 1});
        } else {
            f.insert(f.end(), {0x08, 0x00});
            const uint8_t protocol = kind == 0 ? 17 : kind == 1 ? 6 : kind == 2 ? 1 : 17;
            const size_t ipLength = length - 14;
            f.insert(f.end(), {0x45,
                               0,
                               static_cast<uint8_t>(ipLength >> 8),
                               static_cast<uint8_t>(ipLength),
                               static_cast<uint8_t>(i >> 8),
                               static_cast<uint8_t>(i),
                               0x40,
                               0,
                               64,
                               protocol,
                               0,
                               0,
                               10,
                               0,
                               0,
                               1,
                               10,
                               0,
                               0,
                               2});
            if (protocol == 17) f.insert(f.end(), {0x30, 0x39, 0x30, 0x3a, 0, 8, 0, 0});
            if (protocol == 6)
                f.insert(f.end(), {0x30, 0x39, 0,    80,   0,    0, 0, 1, 0, 0,
                                   0,    0,    0x50, 0x10, 0x10, 0, 0, 0, 0, 0});
            if (protocol == 1) f.insert(f.end(), {8, 0, 0, 0, 0, 1, 0, 1});
        }
        f.push_back(static_cast<uint8_t>(i >> 8));
        f.push_back(static_cast<uint8_t>(i));
        while (f.size() < length) f.push_back(static_cast<uint8_t>(f.size() * 7 + i));
        pcap_pkthdr header{};
        header.ts.tv_usec = static_cast<suseconds_t>(i);
        header.caplen = header.len = static_cast<bpf_u_int32>(f.size());
        pcap_dump(reinterpret_cast<u_char*>(dumper), &header, f.data());
    }
    pcap_dump_close(dumper);
    pcap_close(dead);
}

// Every frame as tshark reads it: its length and its bytes, in file order.
std::vector<std::pair<long, std::string>> tsharkFrames(const std::string& file) {
    const auto out = runShell("tshark -n -r '" + file + "' -T ek -x");
    std::vector<std::pair<long, std::string>> frames;
    static const std::regex raw("\"frame_raw\":\"([0-9a-f]*)\".*\"frame_frame_len\":\"([0-9]+)\"");
    size_t at = 0;
    while (at < out.text.size()) {
        size_t end = out.text.find('\n', at);
        if (end == std::string::npos) end = out.text.size();
        const std::string line = out.text.substr(at, end - at);
        std::smatch match;
        if (std::regex_search(line, match, raw)) frames.emplace_back(std::stol(match[2]), match[1]);
        at = end + 1;
    }
    return frames;
}

TEST(InterfaceDevice, ReplayedFramesReachTheCaptureWholeInOrderAndAreCountedAsTsharkCounts) {
    TestNetwork net('p');
    const std::string space = net.addNamespace("p");
    const std::string port = net.addPort("A", space);
    Daemon daemon;
    const Device device{daemon, daemon.attach({"--interfaces", port})};
    // A veth reports 10 Gbit/s: the ten-gigabit type.
    EXPECT_EQ(device.request(code::kHardwareId, {}, 1), std::vector<uint8_t>{0x4F});

    const std::string input = daemon.folder() + "/replay.pcap";
    constexpr size_t kFrames = 600;
    writeReplayFile(input, kFrames);
    ASSERT_TRUE(configureCapture(device, daemon.folder() + "/port.pcapng"));
    ASSERT_TRUE(device.command(code::kCaptureStart));
    const auto replay =
        TestNetwork::in(space, {"tcpreplay", "-q", "--topspeed", "-i", port + "p", input});
    ASSERT_EQ(replay.exitStatus, 0) << replay.err << replay.out;
    ASSERT_TRUE(eventually([&] { return counter(device, 0) >= kFrames; })) << counter(device, 0);
    ASSERT_TRUE(device.command(code::kCaptureStop));

    const std::string file = testing::capturedFile(daemon.folder(), "port");
    ASSERT_FALSE(file.empty());
    const auto sent = tsharkFrames(input);
    ASSERT_EQ(sent.size(), kFrames);
    const auto captured = tsharkFrames(file);
    ASSERT_EQ(captured.size(), sent.size());
    for (size_t i = 0; i < sent.size(); ++i) {
        ASSERT_EQ(captured[i].first, sent[i].first) << "length of frame " << i;
        ASSERT_EQ(captured[i].second, sent[i].second) << "bytes of frame " << i;
    }

    // The default programmable counters against tshark's count of the same
    // file: frames and wire bytes (with the FCS) on port A, then by kind.
    long bytes = 0;
    for (const auto& frame : sent) bytes += frame.first + 4;
    EXPECT_EQ(counter(device, 0), kFrames);
    EXPECT_EQ(counter(device, 2), static_cast<uint64_t>(bytes));
    EXPECT_EQ(counter(device, 1), 0u) << "nothing on port B";
    const std::pair<size_t, const char*> kinds[] = {
        {4, "ip"}, {6, "tcp"}, {7, "udp"}, {8, "icmp"}, {9, "eth.dst == ff:ff:ff:ff:ff:ff"}};
    for (const auto& [index, filter] : kinds)
        EXPECT_EQ(counter(device, index),
                  static_cast<uint64_t>(traffic::testing::tsharkCount(input, filter)))
            << filter;
    const auto drops = device.request(code::kHostDropCounter, {}, 8);
    EXPECT_EQ(drops, le(0, 8)) << "the ring kept up";
}

// Without a capture the ring holds only the frames' headers; a capture
// started while frames flow must still hold every frame whole, in order
// and without a gap from its first frame on.
TEST(InterfaceDevice, ACaptureStartedWhileFramesFlowHoldsOnlyWholeFrames) {
    TestNetwork net('w');
    const std::string space = net.addNamespace("w");
    const std::string port = net.addPort("A", space);
    Daemon daemon;
    const Device device{daemon, daemon.attach({"--interfaces", port})};
    const std::string input = daemon.folder() + "/stream.pcap";
    constexpr size_t kFrames = 10000;
    writeReplayFile(input, kFrames);

    testsupport::ProcessResult replay;
    std::thread sending([&] {
        replay =
            TestNetwork::in(space, {"tcpreplay", "-q", "--pps=10000", "-i", port + "p", input});
    });
    const bool flowing = eventually([&] { return counter(device, 0) >= 2000; });
    bool started = false;
    uint64_t atStart = 0;
    if (flowing) {
        started = configureCapture(device, daemon.folder() + "/stream.pcapng") &&
                  device.command(code::kCaptureStart);
        atStart = counter(device, 0);
    }
    const bool captured =
        started && eventually([&] { return counter(device, 0) >= atStart + 3000; });
    const bool stopped = started && device.command(code::kCaptureStop);
    sending.join();
    ASSERT_TRUE(flowing && started && captured && stopped) << counter(device, 0);
    ASSERT_EQ(replay.exitStatus, 0) << replay.err << replay.out;

    const std::string file = testing::capturedFile(daemon.folder(), "stream");
    ASSERT_FALSE(file.empty());
    const auto sent = tsharkFrames(input);
    const auto frames = tsharkFrames(file);
    ASSERT_GE(frames.size(), 2000u);
    const auto first = std::find(sent.begin(), sent.end(), frames.front());
    ASSERT_NE(first, sent.end()) << "the first frame, " << frames.front().first
                                 << " bytes, is not one that was sent";
    const auto offset = static_cast<size_t>(first - sent.begin());
    ASSERT_LE(offset + frames.size(), sent.size());
    for (size_t i = 0; i < frames.size(); ++i)
        ASSERT_EQ(frames[i], sent[offset + i]) << "captured frame " << i;
}

// A mix for the filters to sort: IPv4 from inside and outside 10.0.0.0/16,
// some behind a VLAN tag, UDP and TCP to port 80 and elsewhere, ICMP echo,
// IPv6 to port 80 and ARP; "NBEAM" in some payloads (also at the very end),
// a cut-off "NBEA" in others, "NZEAM" one byte into yet others, and
// "NBEAM" in no header.
void writeFilterFile(const std::string& path, size_t count) {
    pcap_t* dead = pcap_open_dead(DLT_EN10MB, 65535);
    pcap_dumper_t* dumper = pcap_dump_open(dead, path.c_str());
    auto be16 = [](std::vector<uint8_t>& f, size_t value) {
        f.insert(f.end(), {static_cast<uint8_t>(value >> 8), static_cast<uint8_t>(value)});
    };
    for (size_t i = 0; i < count; ++i) {
        std::vector<uint8_t> f = {0x02, 0x11, 0x22, 0x33, 0x44, 0x55,
                                  0x02, 0x66, 0x77, 0x88, 0x99, static_cast<uint8_t>(i)};
        if (i % 7 == 3) f.insert(f.end(), {0x81, 0x00, 0x00, static_cast<uint8_t>(i % 100 + 1)});
        const size_t kind = i % 6;  // 0, 1 UDP; 2, 3 TCP; 4 ICMP; 5 ARP or IPv6
        const uint16_t dstPort = (i / 6) % 3 == 0 ? 80 : (i / 6) % 3 == 1 ? 8080 : 53;
        const uint8_t net = (i / 18) % 3 == 0 ? 0 : (i / 18) % 3 == 1 ? 1 : 168;
        const size_t payload = 1 + (i * 37) % 300;
        const size_t transport = kind <= 1 ? 8 : kind <= 3 ? 20 : 8;
        if (kind == 5 && i % 4 == 1) {  // ARP request
            f.insert(f.end(), {0x08, 0x06, 0, 1, 8, 0, 6, 4, 0, 1});
            while (f.size() < 60) f.push_back(0);
        } else if (kind == 5) {  // IPv6 UDP from 10.0-looking bytes
            be16(f, 0x86DD);
            f.insert(f.end(), {0x60, 0, 0, 0});
            be16(f, 8 + payload);
            f.insert(f.end(), {17, 64});
            for (int a = 0; a < 2; ++a)
                f.insert(f.end(), {10, 0, 0, 1, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 2});
            be16(f, 40000);
            be16(f, 80);
            be16(f, 8 + payload);
            f.insert(f.end(), {0, 0});
        } else {
            be16(f, 0x0800);
            f.insert(f.end(), {0x45, 0});
            be16(f, 20 + transport + payload);
            be16(f, i);
            const uint8_t protocol = kind <= 1 ? 17 : kind <= 3 ? 6 : 1;
            f.insert(f.end(), {0x40, 0, 64, protocol, 0, 0, 10, net, static_cast<uint8_t>(i >> 8),
                               static_cast<uint8_t>(i), 10, 0, 0, 2});
            if (protocol == 17) {
                be16(f, 40000 + i % 100);
                be16(f, dstPort);
                be16(f, 8 + payload);
                f.insert(f.end(), {0, 0});
            } else if (protocol == 6) {
                be16(f, 40000 + i % 100);
                be16(f, dstPort);
                f.insert(f.end(), {0, 0, static_cast<uint8_t>(i >> 8), static_cast<uint8_t>(i), 0,
                                   0, 0, 0, 0x50, 0x18, 0x10, 0, 0, 0, 0, 0});
            } else {
                f.insert(f.end(), {8, 0, 0, 0, 0, 1});
                be16(f, i);
            }
        }
        // The payload: filler, with the pattern whole, cut off or absent.
        const size_t start = f.size();
        const bool arp = kind == 5 && i % 4 == 1;
        for (size_t b = 0; b < payload && !arp; ++b)
            f.push_back(static_cast<uint8_t>('a' + (b + i) % 26));
        const std::string pattern = "NBEAM";
        if (!arp && payload >= pattern.size()) {
            const size_t where = i % 5;
            if (where == 0) std::copy(pattern.begin(), pattern.end(), f.begin() + start);
            if (where == 1) std::copy(pattern.begin(), pattern.end(), f.end() - pattern.size());
            if (where == 2) std::copy(pattern.begin(), pattern.end() - 1, f.end() - 4);
            // The pattern with another second letter, one byte in.
            if (where == 3 && payload > pattern.size()) {
                std::copy(pattern.begin(), pattern.end(), f.begin() + start + 1);
                f[start + 2] = 'Z';
            }
        }
        pcap_pkthdr header{};
        header.ts.tv_usec = static_cast<suseconds_t>(i);
        header.caplen = header.len = static_cast<bpf_u_int32>(f.size());
        pcap_dump(reinterpret_cast<u_char*>(dumper), &header, f.data());
    }
    pcap_dump_close(dumper);
    pcap_close(dead);
}

// A display filter keeping the frames whose DPI payload (the TCP or UDP
// payload, else everything after the IP header) holds `pattern` at some
// offset, comparing only the bytes whose bit is set in `mask`: per-byte
// comparisons at every offset a payload of up to `longest` bytes offers.
std::string dpiDisplayFilter(const std::string& pattern, uint32_t mask, size_t longest) {
    std::string filter;
    for (const char* payload : {"udp.payload", "tcp.payload", "icmp"}) {
        for (size_t at = 0; at < longest; ++at) {
            std::string all;
            for (size_t i = 0; i < pattern.size(); ++i) {
                if (((mask >> i) & 1u) == 0) continue;
                char byte[3];
                std::snprintf(byte, sizeof byte, "%02x", static_cast<uint8_t>(pattern[i]));
                all += std::string(all.empty() ? "" : " && ") + payload + "[" +
                       std::to_string(at + i) + ":1] == " + byte;
            }
            filter += (filter.empty() ? "(" : " || (") + all + ")";
        }
    }
    return filter;
}

// Each filter keeps exactly the frames that a tshark display filter with the
// same meaning keeps, whole and in order: the header filter with a wildcard
// source address and a destination port, then the DPI filter alone, with a
// plain pattern and with wildcard bytes (also before the first significant
// byte, which must then be in the payload too).
TEST(InterfaceDevice, HeaderAndDpiFiltersKeepWhatTheSameTsharkFilterKeeps) {
    TestNetwork net('h');
    const std::string space = net.addNamespace("h");
    const std::string port = net.addPort("A", space);
    Daemon daemon;
    const Device device{daemon, daemon.attach({"--interfaces", port})};
    const std::string input = daemon.folder() + "/mix.pcap";
    constexpr size_t kFrames = 540;
    writeFilterFile(input, kFrames);

    // Source IPv4 10.0.*.* (the two last address bytes, stored first, are
    // wildcards) and destination port 80.
    std::vector<uint8_t> header(248, 0);
    traffic::testing::putLe(header, 0, 1, 4);
    traffic::testing::putLe(header, 4, 1, 4);
    header[36 + 2] = 0;  // 10.0.x.y stored last byte first
    header[36 + 3] = 10;
    traffic::testing::putLe(header, 52, 80, 2);
    const uint64_t care = (uint64_t{3} << (36 + 2 - 8)) | (uint64_t{3} << (52 - 8));
    traffic::testing::putLe(header, 56, care, 6);
    traffic::testing::putLe(header, 64, (1u << 4) | (1u << 5), 4);
    std::vector<uint8_t> headerOff = header;
    traffic::testing::putLe(headerOff, 4, 0, 4);

    auto dpiBlock = [](const std::string& pattern, uint32_t mask, bool enabled) {
        std::vector<uint8_t> block(224, 0);
        std::copy(pattern.begin(), pattern.end(), block.begin());
        traffic::testing::putLe(block, 32, mask, 4);
        traffic::testing::putLe(block, 216, 1, 4);
        traffic::testing::putLe(block, 220, enabled ? 1 : 0, 4);
        return block;
    };
    // "?N?EAM", the wildcards holding bytes that must not matter, and more
    // of them after the last significant byte.
    const std::string wildcards = "xNBEAMQQQQ";
    constexpr uint32_t kWildcardMask = 0x3A;

    const std::string tcpOptions = "-o tcp.desegment_tcp_streams:FALSE ";
    struct Case {
        const char* base;
        std::vector<uint8_t> packet;
        std::vector<uint8_t> dpi;
        std::string filter;
    };
    const Case cases[] = {
        {"header", header, dpiBlock("NBEAM", 0x1F, false),
         "ip.src == 10.0.0.0/16 && (udp.dstport == 80 || tcp.dstport == 80)"},
        {"dpi", headerOff, dpiBlock("NBEAM", 0x1F, true),
         "udp.payload contains \"NBEAM\" || tcp.payload contains \"NBEAM\" || "
         "icmp contains \"NBEAM\""},
        // The longest payload: 300 bytes after an 8-byte ICMP header.
        {"dpi-wildcards", headerOff, dpiBlock(wildcards, kWildcardMask, true),
         dpiDisplayFilter(wildcards, kWildcardMask, 308)},
    };
    uint64_t seen = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.base);
        ASSERT_TRUE(device.command(code::kWritePacketFilter, c.packet));
        ASSERT_TRUE(device.command(code::kWriteDpiFilter, c.dpi));
        ASSERT_TRUE(configureCapture(device, daemon.folder() + "/" + c.base + ".pcapng"));
        ASSERT_TRUE(device.command(code::kCaptureStart));
        const auto replay =
            TestNetwork::in(space, {"tcpreplay", "-q", "--topspeed", "-i", port + "p", input});
        ASSERT_EQ(replay.exitStatus, 0) << replay.err << replay.out;
        seen += kFrames;
        ASSERT_TRUE(eventually([&] { return counter(device, 0) >= seen; })) << counter(device, 0);
        ASSERT_TRUE(device.command(code::kCaptureStop));

        const std::string file = testing::capturedFile(daemon.folder(), c.base);
        ASSERT_FALSE(file.empty());
        const std::string kept = daemon.folder() + "/" + c.base + ".expected.pcap";
        const auto written = runShell("tshark -n " + tcpOptions + "-r '" + input + "' -Y '" +
                                      c.filter + "' -w '" + kept + "'");
        ASSERT_EQ(written.status, 0) << written.text;
        const auto expected = tsharkFrames(kept);
        const auto captured = tsharkFrames(file);
        ASSERT_GT(expected.size(), 10u) << "the filter keeps some frames";
        ASSERT_LT(expected.size(), kFrames / 2) << "and drops most";
        EXPECT_EQ(captured.size(), expected.size());
        for (size_t i = 0; i < std::min(expected.size(), captured.size()); ++i) {
            ASSERT_EQ(captured[i].first, expected[i].first) << "length of kept frame " << i;
            ASSERT_EQ(captured[i].second, expected[i].second) << "bytes of kept frame " << i;
        }
    }
}

// Format-1 words 16 and 17: link up and down time.
uint64_t upTime(const Device& device) {
    const auto reply = device.request(code::kStatisticsFormat1, {}, 160);
    uint64_t v = 0;
    for (size_t b = 0; b < 8 && reply.size() == 160; ++b) v |= uint64_t{reply[128 + b]} << (8 * b);
    return v;
}

TEST(InterfaceDevice, FollowsTheKernelsLinkStateLive) {
    TestNetwork net('l');
    const std::string space = net.addNamespace("l");
    const std::string port = net.addPort("A", space);
    Daemon daemon;
    // A gigabit type: its link status byte and format-1 statistics.
    const Device device{daemon, daemon.attach({"--interfaces", port, "--type", "14"})};
    auto linkByte = [&] {
        const auto reply = device.request(code::kLinkStatusByte, {}, 1);
        return reply.size() == 1 ? reply[0] : 0xFF;
    };
    EXPECT_NE(linkByte() & 4, 0) << "the veth is up at attach";
    ASSERT_TRUE(eventually([&] { return upTime(device) > 0; }));

    testing::mustRun({"ip", "-n", space, "link", "set", port + "p", "down"});
    const auto downAt = std::chrono::steady_clock::now();
    ASSERT_TRUE(eventually([&] { return (linkByte() & 4) == 0; }, 20)) << "link down within 2 s";
    EXPECT_LT(std::chrono::steady_clock::now() - downAt, std::chrono::seconds(2));
    // Readers of the statistics see the link event as the up time restarting.
    EXPECT_EQ(upTime(device), 0u);

    testing::mustRun({"ip", "-n", space, "link", "set", port + "p", "up"});
    ASSERT_TRUE(eventually([&] { return (linkByte() & 4) != 0; }, 20)) << "link up again";
    EXPECT_TRUE(eventually([&] { return upTime(device) > 0; }));

    // A speed setting goes to the kernel; a veth refuses it, so the device
    // refuses the configuration, keeps the old one and the log says why.
    auto block = device.request(code::kReadConfiguration, {}, 64);
    ASSERT_EQ(block.size(), 32u);
    const auto before = block;
    block[4] = 0x08;  // port A: 100 Mbit/s full duplex, no autonegotiation
    EXPECT_FALSE(device.command(code::kWriteConfiguration, block));
    EXPECT_EQ(device.request(code::kReadConfiguration, {}, 64), before);
    std::ifstream log(daemon.folder() + "/nettlebeamd.log");
    const std::string text{std::istreambuf_iterator<char>(log), {}};
    EXPECT_NE(
        text.find("interface " + port + " refused the link settings: " + std::strerror(EOPNOTSUPP)),
        std::string::npos)
        << text;
    // Settings that leave the link modes alone still apply.
    block = before;
    block[0] ^= 0x01;
    EXPECT_TRUE(device.command(code::kWriteConfiguration, block));
}

// How often `text` occurs in `log`.
size_t occurrences(const std::string& log, const std::string& text) {
    size_t count = 0;
    for (size_t at = log.find(text); at != std::string::npos; at = log.find(text, at + 1)) ++count;
    return count;
}

// A veth has no module EEPROM: the ten-gigabit device reports both cages
// empty, and the daemon says why once per interface however often a
// manager polls (for longer than a reading is kept).
TEST(InterfaceDevice, AVethReportsNoModuleAndTheLogSaysWhyOnce) {
    TestNetwork net('m');
    const std::string space = net.addNamespace("m");
    const std::string portA = net.addPort("A", space);
    const std::string portB = net.addPort("B", space);
    Daemon daemon;
    const Device device{daemon, daemon.attach({"--interfaces", portA + "," + portB})};
    const auto pollUntil = std::chrono::steady_clock::now() + std::chrono::milliseconds(2500);
    int polls = 0;
    do {
        const auto reply = device.request(code::kTransceiverData, {}, 500);
        ASSERT_EQ(reply.size(), 500u);
        EXPECT_EQ(std::count(reply.begin(), reply.end(), 0), 500) << "no module, poll " << polls;
        ++polls;
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    } while (std::chrono::steady_clock::now() < pollUntil);

    std::ifstream log(daemon.folder() + "/nettlebeamd.log");
    const std::string text{std::istreambuf_iterator<char>(log), {}};
    for (const std::string& port : {portA, portB})
        EXPECT_EQ(occurrences(text, "interface " + port +
                                        " has no module to read: " + std::strerror(EOPNOTSUPP)),
                  1u)
            << text;
    EXPECT_EQ(occurrences(text, "no module reported"), 2u) << text;
}

}  // namespace
}  // namespace nettlebeam::netif
