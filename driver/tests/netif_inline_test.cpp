// An inline interface device between two namespaces: the kernel forwards
// through it in both directions while the device captures both, disabling
// a port cuts its direction, detach and an orderly stop leave the
// interfaces as they were, and a killed daemon fails open until the next
// start removes its redirects (and only its own).
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <functional>
#include <thread>

#include "client.h"
#include "netif_test_support.h"
#include "request_codes.h"
#include "traffic_test_support.h"

namespace nettlebeam::netif {
namespace {

namespace code = wire::code;
using testing::mustRun;
using testing::TestNetwork;
using testsupport::Daemon;
using traffic::testing::putLe;

struct Device {
    const Daemon& daemon;
    int handle;

    std::vector<uint8_t> request(uint32_t c, std::vector<uint8_t> payload = {},
                                 uint32_t capacity = 0, bool* ok = nullptr) const {
        std::vector<uint8_t> input(4);
        putLe(input, 0, static_cast<uint32_t>(handle), 4);
        input.insert(input.end(), payload.begin(), payload.end());
        std::vector<uint8_t> out(capacity);
        const int32_t n = wire::transact(daemon.controlPath(), c, input.data(),
                                         static_cast<uint32_t>(input.size()), out.data(), capacity);
        if (ok) *ok = n >= 0;
        out.resize(n > 0 ? static_cast<size_t>(n) : 0);
        return out;
    }
    bool command(uint32_t c, std::vector<uint8_t> payload = {}) const {
        bool ok = false;
        request(c, std::move(payload), 0, &ok);
        return ok;
    }
    // Sets the configuration's "disable port" bit of port 0 (A) or 1 (B).
    bool disablePort(int port, bool disabled) const {
        auto block = request(code::kReadConfiguration, {}, 64);
        if (block.size() < 4) return false;
        const uint8_t bit = port == 0 ? 0x08 : 0x10;  // word 0, bits 19 and 20
        block[2] = static_cast<uint8_t>(disabled ? block[2] | bit : block[2] & ~bit);
        return command(code::kWriteConfiguration, block);
    }
};

std::vector<uint8_t> le(uint64_t value, size_t bytes) {
    std::vector<uint8_t> out(bytes);
    putLe(out, 0, value, bytes);
    return out;
}

bool eventually(const std::function<bool()>& condition, int tenths = 100) {
    for (int i = 0; i < tenths; ++i) {
        if (condition()) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    return condition();
}

// Two namespaces, "1" with 10.77.0.1 behind port A and "2" with 10.77.0.2
// behind port B, that reach each other only through a device.
struct Cable {
    TestNetwork net;
    std::string one, two, portA, portB;
    explicit Cable(char tag) : net(tag) {
        one = net.addNamespace("1");
        two = net.addNamespace("2");
        portA = net.addPort("A", one, "10.77.0.1/24");
        portB = net.addPort("B", two, "10.77.0.2/24");
    }
    bool pingPasses() const {
        return TestNetwork::in(one, {"ping", "-c", "1", "-W", "1", "10.77.0.2"}).exitStatus == 0;
    }
    // What the kernel shows of an interface that the device may change.
    static std::string state(const std::string& port) {
        std::string promiscuity = mustRun({"ip", "-d", "link", "show", port});
        promiscuity = promiscuity.substr(promiscuity.find("promiscuity"), 14);
        return promiscuity + "|" + mustRun({"tc", "qdisc", "show", "dev", port}) + "|" +
               mustRun({"tc", "filter", "show", "dev", port, "ingress"});
    }
    std::string states() const { return state(portA) + "||" + state(portB); }
    bool redirected() const {
        return mustRun({"tc", "filter", "show", "dev", portA, "ingress"}).find("mirred") !=
                   std::string::npos ||
               mustRun({"tc", "filter", "show", "dev", portB, "ingress"}).find("mirred") !=
                   std::string::npos;
    }
};

void configureCapture(const Device& device, const std::string& base) {
    std::vector<uint8_t> name;
    for (char c : base) name.insert(name.end(), {static_cast<uint8_t>(c), 0});
    name.insert(name.end(), {0, 0});
    ASSERT_TRUE(device.command(code::kCaptureLoop, {0}));
    ASSERT_TRUE(device.command(code::kCaptureFileSize, le(0, 8)));
    ASSERT_TRUE(device.command(code::kCaptureMaxCache, le(64 << 20, 8)));
    ASSERT_TRUE(device.command(code::kCaptureFileName, name));
    ASSERT_TRUE(device.command(code::kCaptureFileCount, le(0, 4)));
    ASSERT_TRUE(device.command(code::kCaptureMode, le(0, 4)));
    ASSERT_TRUE(device.command(code::kCaptureExtraOption, {0}));
    ASSERT_TRUE(device.command(code::kCaptureFileDuration, le(0, 4)));
    ASSERT_TRUE(device.command(code::kCaptureFullFrames, {0}));
}

TEST(InlineInterfaceDevice, ForwardsBothWaysInTheKernelAndADisabledPortCutsItsDirection) {
    Cable cable('i');
    ASSERT_FALSE(cable.pingPasses()) << "the namespaces are apart";
    const std::string before = cable.states();
    Daemon daemon;
    const Device device{
        daemon, daemon.attach({"--interfaces", cable.portA + "," + cable.portB, "--inline"})};

    configureCapture(device, daemon.folder() + "/inline.pcapng");
    ASSERT_TRUE(device.command(code::kCaptureStart));
    const auto ping =
        TestNetwork::in(cable.one, {"ping", "-c", "3", "-i", "0.2", "-W", "2", "10.77.0.2"});
    EXPECT_EQ(ping.exitStatus, 0) << ping.out << ping.err;
    // An iperf3 TCP run through the device: the server takes one client.
    testsupport::ProcessResult server;
    std::thread serving([&] {
        server = TestNetwork::in(cable.two, {"iperf3", "-s", "-1", "-B", "10.77.0.2"});
    });
    testsupport::ProcessResult client;
    ASSERT_TRUE(eventually(
        [&] {
            client = TestNetwork::in(cable.one, {"iperf3", "-c", "10.77.0.2", "-t", "1"});
            return client.exitStatus == 0;
        },
        50))
        << client.out << client.err;
    serving.join();
    EXPECT_EQ(server.exitStatus, 0) << server.out << server.err;
    ASSERT_TRUE(device.command(code::kCaptureStop));

    std::string file;
    for (const auto& e : std::filesystem::directory_iterator(daemon.folder()))
        if (e.path().filename().string().rfind("inline_00001_", 0) == 0) file = e.path();
    ASSERT_FALSE(file.empty());
    // Requests arrive on port A (interface 0), replies on port B (1).
    EXPECT_GE(traffic::testing::tsharkCount(file, "frame.interface_id == 0 && icmp.type == 8"), 3);
    EXPECT_GE(traffic::testing::tsharkCount(file, "frame.interface_id == 1 && icmp.type == 0"), 3);
    EXPECT_GT(traffic::testing::tsharkCount(file, "frame.interface_id == 1 && tcp.srcport == 5201"),
              0);

    for (int port : {0, 1}) {
        ASSERT_TRUE(device.disablePort(port, true));
        EXPECT_FALSE(cable.pingPasses()) << "port " << port << " disabled";
        ASSERT_TRUE(device.disablePort(port, false));
        EXPECT_TRUE(eventually([&] { return cable.pingPasses(); }, 30)) << "port " << port;
    }

    daemon.detach(device.handle);
    EXPECT_EQ(cable.states(), before) << "no redirect, qdisc or promiscuous mode left";
    EXPECT_FALSE(cable.pingPasses()) << "no forwarding after detach";
}

TEST(InlineInterfaceDevice, AKilledDaemonFailsOpenAndTheNextStartRemovesOnlyItsRedirects) {
    Cable cable('k');
    Daemon daemon;
    const std::string inlineLine = cable.portA + "," + cable.portB;
    daemon.attach({"--interfaces", inlineLine, "--inline"});
    ASSERT_TRUE(cable.pingPasses());
    // Somebody else's filter on the same ingress, after the device's.
    mustRun({"tc", "filter", "add", "dev", cable.portA, "parent", "ffff:", "prio", "30000",
             "protocol", "all", "u32", "match", "u32", "0", "0", "flowid", "1:1"});
    // Another daemon starting meanwhile leaves a running daemon's redirects.
    { Daemon other; }
    ASSERT_TRUE(cable.pingPasses()) << "a live daemon's redirects stay";

    daemon.crash();
    EXPECT_TRUE(cable.pingPasses()) << "the link keeps passing traffic";
    EXPECT_TRUE(cable.redirected());

    daemon.restart();
    EXPECT_FALSE(cable.redirected()) << "the stale redirects are gone";
    EXPECT_FALSE(cable.pingPasses());
    EXPECT_NE(mustRun({"tc", "filter", "show", "dev", cable.portA, "ingress"}).find("pref 30000 "),
              std::string::npos)
        << "the other filter stays";

    // An orderly stop removes the redirects as detach does.
    daemon.attach({"--interfaces", inlineLine, "--inline"});
    ASSERT_TRUE(cable.pingPasses());
    daemon.stop();
    EXPECT_FALSE(cable.redirected());
}

}  // namespace
}  // namespace nettlebeam::netif
