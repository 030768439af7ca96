// An inline interface device between two namespaces: the kernel forwards
// through it in both directions while the device captures both, disabling
// a port cuts its direction, detach and an orderly stop leave the
// interfaces as they were, and a killed daemon fails open until the next
// start removes its redirects (and only its own).
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
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
using testing::mustRun;
using testing::TestNetwork;
using testsupport::Daemon;

// Sets the configuration's "disable port" bit of port 0 (A) or 1 (B).
bool disablePort(const Device& device, int port, bool disabled) {
    auto block = device.request(code::kReadConfiguration, {}, 64);
    if (block.size() < 4) return false;
    const uint8_t bit = port == 0 ? 0x08 : 0x10;  // word 0, bits 19 and 20
    block[2] = static_cast<uint8_t>(disabled ? block[2] | bit : block[2] & ~bit);
    return device.command(code::kWriteConfiguration, block);
}

// The configuration's inline mode bit (word 0, bit 6): true when set.
bool inlineBit(const Device& device) {
    const auto block = device.request(code::kReadConfiguration, {}, 64);
    return block.size() == 32 && (block[0] & 0x40) != 0;
}

// Sets or clears the inline mode bit; false when the device refuses.
bool setInlineBit(const Device& device, bool on) {
    auto block = device.request(code::kReadConfiguration, {}, 64);
    if (block.size() != 32) return false;
    block[0] = static_cast<uint8_t>(on ? block[0] | 0x40 : block[0] & ~0x40);
    return device.command(code::kWriteConfiguration, block);
}

// Frames counted on port A (programmable counter 0, format-2 statistics).
uint64_t portAFrames(const Device& device) {
    const auto reply = device.request(code::kStatisticsFormat2, {}, 128);
    uint64_t v = 0;
    for (size_t b = 0; b < 8 && reply.size() == 128; ++b) v |= uint64_t{reply[b]} << (8 * b);
    return v;
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
    bool redirectedFrom(const std::string& port) const {
        return mustRun({"tc", "filter", "show", "dev", port, "ingress"}).find("mirred") !=
               std::string::npos;
    }
    bool redirected() const {
        return mustRun({"tc", "filter", "show", "dev", portA, "ingress"}).find("mirred") !=
                   std::string::npos ||
               mustRun({"tc", "filter", "show", "dev", portB, "ingress"}).find("mirred") !=
                   std::string::npos;
    }
};

TEST(InlineInterfaceDevice, ForwardsBothWaysInTheKernelAndADisabledPortCutsItsDirection) {
    Cable cable('i');
    ASSERT_FALSE(cable.pingPasses()) << "the namespaces are apart";
    const std::string before = cable.states();
    Daemon daemon;
    const Device device{
        daemon, daemon.attach({"--interfaces", cable.portA + "," + cable.portB, "--inline"})};

    ASSERT_TRUE(configureCapture(device, daemon.folder() + "/inline.pcapng"));
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

    const std::string file = testing::capturedFile(daemon.folder(), "inline");
    ASSERT_FALSE(file.empty());
    // Requests arrive on port A (interface 0), replies on port B (1).
    EXPECT_GE(traffic::testing::tsharkCount(file, "frame.interface_id == 0 && icmp.type == 8"), 3);
    EXPECT_GE(traffic::testing::tsharkCount(file, "frame.interface_id == 1 && icmp.type == 0"), 3);
    EXPECT_GT(traffic::testing::tsharkCount(file, "frame.interface_id == 1 && tcp.srcport == 5201"),
              0);

    for (int port : {0, 1}) {
        ASSERT_TRUE(disablePort(device, port, true));
        EXPECT_FALSE(cable.pingPasses()) << "port " << port << " disabled";
        ASSERT_TRUE(disablePort(device, port, false));
        EXPECT_TRUE(eventually([&] { return cable.pingPasses(); }, 30)) << "port " << port;
    }

    daemon.detach(device.handle);
    EXPECT_EQ(cable.states(), before) << "no redirect, qdisc or promiscuous mode left";
    EXPECT_FALSE(cable.pingPasses()) << "no forwarding after detach";
}

// Clearing the inline bit puts an inline device in span mode: no redirect,
// each port only receives. Setting it again forwards the enabled ports'
// directions. A passive device never forwards, whatever is ticked.
TEST(InlineInterfaceDevice, TheInlineBitSwitchesToSpanModeAndBackAndAPassiveDeviceRefusesIt) {
    Cable cable('s');
    const std::string before = cable.states();
    Daemon daemon;
    const std::string both = cable.portA + "," + cable.portB;
    {
        const Device device{daemon, daemon.attach({"--interfaces", both, "--inline"})};
        ASSERT_TRUE(inlineBit(device)) << "an inline attach starts inline";
        ASSERT_TRUE(cable.pingPasses());

        ASSERT_TRUE(setInlineBit(device, false));
        EXPECT_FALSE(inlineBit(device));
        EXPECT_FALSE(cable.redirected());
        const uint64_t seen = portAFrames(device);
        EXPECT_FALSE(cable.pingPasses()) << "span mode forwards nothing";
        EXPECT_TRUE(eventually([&] { return portAFrames(device) > seen; }))
            << "but port A still receives";

        // Back inline with port B disabled: only A's direction comes back.
        ASSERT_TRUE(disablePort(device, 1, true));
        ASSERT_TRUE(setInlineBit(device, true));
        EXPECT_TRUE(cable.redirectedFrom(cable.portA));
        EXPECT_FALSE(cable.redirectedFrom(cable.portB));
        EXPECT_FALSE(cable.pingPasses()) << "the replies cannot come back";
        ASSERT_TRUE(disablePort(device, 1, false));
        EXPECT_TRUE(eventually([&] { return cable.pingPasses(); }, 30));
        daemon.detach(device.handle);
    }
    EXPECT_EQ(cable.states(), before);

    const Device passive{daemon, daemon.attach({"--interfaces", both})};
    EXPECT_FALSE(inlineBit(passive)) << "a passive device is in span mode";
    EXPECT_FALSE(setInlineBit(passive, true));
    EXPECT_FALSE(inlineBit(passive));
    EXPECT_FALSE(cable.redirected());
    EXPECT_FALSE(cable.pingPasses()) << "a passive device forwards nothing";
    std::ifstream log(daemon.folder() + "/nettlebeamd.log");
    const std::string text{std::istreambuf_iterator<char>(log), {}};
    EXPECT_NE(text.find("attached without --inline"), std::string::npos) << text;
    // Other settings still apply to a passive device.
    auto block = passive.request(code::kReadConfiguration, {}, 64);
    ASSERT_EQ(block.size(), 32u);
    block[0] ^= 0x01;
    EXPECT_TRUE(passive.command(code::kWriteConfiguration, block));
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

    // The command does the same without a start, and says what it removed.
    daemon.attach({"--interfaces", inlineLine, "--inline"});
    daemon.crash();
    ASSERT_TRUE(cable.redirected());
    const auto cleaned = daemon.run({"clean-redirects"});
    EXPECT_EQ(cleaned.exitStatus, 0) << cleaned.err;
    // Other tests' interfaces may show up too; these two must.
    for (const std::string& port : {cable.portA, cable.portB})
        EXPECT_NE(cleaned.out.find("removed a stale redirect on interface " + port + "\n"),
                  std::string::npos)
            << cleaned.out;
    EXPECT_FALSE(cable.redirected());

    // An orderly stop removes the redirects as detach does.
    daemon.restart();
    daemon.attach({"--interfaces", inlineLine, "--inline"});
    ASSERT_TRUE(cable.pingPasses());
    daemon.stop();
    EXPECT_FALSE(cable.redirected());
}

}  // namespace
}  // namespace nettlebeam::netif
