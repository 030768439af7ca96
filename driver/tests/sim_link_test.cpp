// Links, PHY details, transceiver modules and statistics of the simulated
// devices, read back through the library's own decoders.
#include <gtest/gtest.h>

#include "codec/link_status.h"
#include "codec/statistics.h"
#include "request_codes.h"
#include "sim/simulated_device_model.h"
#include "sim_test_support.h"

namespace nettlebeam::driver::simtest {
namespace {

namespace code = wire::code;
using namespace std::chrono_literals;

constexpr int kSpeed10 = 0, kSpeed100 = 1, kSpeed1000 = 2, kNoLink = 5;

std::vector<uint8_t> setWord(std::vector<uint8_t> block, size_t word, uint32_t value) {
    auto bytes = u32(value);
    std::copy(bytes.begin(), bytes.end(), block.begin() + 4 * word);
    return block;
}

// What the library makes of a gigabit copper device's replies.
NettlebeamApiLinkStatus gigabitLinks(Bench& bench) {
    NettlebeamApiLinkStatus status{};
    auto config = bench.request(code::kReadConfiguration, {}, 32).bytes;
    bool inlineMode = (le32(config, 4 * 0) >> 6) & 1;
    auto speed = bench.request(code::kPortSpeedByte, {}, 1);
    EXPECT_TRUE(speed.ok);
    codec::decodeGigabitPortSpeedByte(speed.bytes.at(0), inlineMode, status);
    auto details = bench.request(code::kLinkDetails, {}, 20);
    EXPECT_TRUE(details.ok);
    codec::decodeLinkDetails(details.bytes, status);
    return status;
}

TEST(SimulatedLinks, ComeUpAfterNegotiationAtTheBestCommonSpeed) {
    Bench bench(0x4D);
    auto early = gigabitLinks(bench);
    EXPECT_EQ(early.ports[0].speed, kNoLink);
    bench.run(2s);
    auto links = gigabitLinks(bench);
    for (int p = 0; p < 2; ++p) {
        EXPECT_EQ(links.ports[p].spanPort, 0);  // factory setting: inline
        EXPECT_EQ(links.ports[p].speed, kSpeed1000);
        EXPECT_EQ(links.ports[p].halfDuplex, 0);
        const auto& phy = links.phy[p].values;
        EXPECT_EQ(phy[0], 1) << "slave: the partner wins master/slave";
        EXPECT_EQ(phy[1], 1) << "partner autonegotiates";
        EXPECT_EQ(phy[5], 1) << "partner offers 1000BASE-T full duplex";
        EXPECT_EQ(phy[7], 1) << "partner offers 100BASE-TX full duplex";
        EXPECT_EQ(phy[12], 1) << "partner offers symmetric pause";
        EXPECT_EQ(phy[16], 1) << "local receiver OK";
        EXPECT_EQ(phy[15], 0) << "no master/slave fault";
    }
}

TEST(SimulatedLinks, FollowTheAdvertisementAndTheSpanMode) {
    Bench bench(0x15);
    bench.run(2s);
    auto config = bench.request(code::kReadConfiguration, {}, 32).bytes;
    // Span mode; port A offers 10 Mbit/s full duplex only, port B 100 half.
    uint32_t word0 = le32(config, 4 * 0) & ~(1u << 6);
    uint32_t word1 = (le32(config, 4 * 1) & 0xF0F08080) | 0x40 | 0x02 | ((0x40 | 0x04) << 8);
    auto changed = setWord(setWord(config, 0, word0), 1, word1);
    ASSERT_TRUE(bench.request(code::kWriteConfiguration, changed).ok);
    EXPECT_EQ(gigabitLinks(bench).ports[0].speed, kNoLink) << "renegotiating";
    bench.run(2s);
    auto links = gigabitLinks(bench);
    EXPECT_EQ(links.ports[0].spanPort, 1);
    EXPECT_EQ(links.ports[0].speed, kSpeed10);
    EXPECT_EQ(links.ports[0].halfDuplex, 0);
    EXPECT_EQ(links.ports[1].speed, kSpeed100);
    EXPECT_EQ(links.ports[1].halfDuplex, 1);
    EXPECT_EQ(links.phy[0].values[0], 2) << "master/slave only at 1000 Mbit/s";

    // Port B disabled: its link goes, port A keeps its own.
    ASSERT_TRUE(
        bench.request(code::kWriteConfiguration, setWord(changed, 0, word0 | (1u << 20))).ok);
    bench.run(2s);
    links = gigabitLinks(bench);
    EXPECT_EQ(links.ports[0].speed, kSpeed10);
    EXPECT_EQ(links.ports[1].speed, kNoLink);
}

TEST(SimulatedLinks, InlinePortsShareOneLinkThatBothPortsMustOffer) {
    Bench bench(0x4E);
    auto config = bench.request(code::kReadConfiguration, {}, 32).bytes;
    // Port A offers everything, port B nothing above 100 Mbit/s.
    uint32_t word1 = (le32(config, 4 * 1) & ~(0x30u << 8));
    ASSERT_TRUE(bench.request(code::kWriteConfiguration, setWord(config, 1, word1)).ok);
    bench.run(2s);
    auto links = gigabitLinks(bench);
    EXPECT_EQ(links.ports[0].speed, kSpeed100);
    EXPECT_EQ(links.ports[1].speed, kSpeed100);
    // Either port disabled takes the shared link down.
    ASSERT_TRUE(bench
                    .request(code::kWriteConfiguration, setWord(setWord(config, 1, word1), 0,
                                                                le32(config, 4 * 0) | (1u << 19)))
                    .ok);
    bench.run(2s);
    EXPECT_EQ(gigabitLinks(bench).ports[1].speed, kNoLink);
}

TEST(SimulatedLinks, FastEthernetAndFirstGenerationReportTheirOwnBytes) {
    Bench fast(0x50);
    fast.run(2s);
    NettlebeamApiLinkStatus status{};
    codec::decodeFastEthernetPortSpeedByte(fast.request(code::kPortSpeedByte, {}, 1).bytes[0],
                                           status);
    EXPECT_EQ(status.ports[0].speed, kSpeed100);
    EXPECT_EQ(status.ports[0].halfDuplex, 0);

    Bench first(0x4B);
    first.run(2s);
    NettlebeamApiLinkStatus basic{};
    codec::decodeLinkStatusByte(first.request(code::kLinkStatusByte, {}, 1).bytes[0], basic);
    EXPECT_EQ(basic.ports[0].speed, kSpeed1000);
    EXPECT_EQ(basic.ports[1].speed, kSpeed1000);
    EXPECT_EQ(basic.ports[0].halfDuplex, 0);
}

// --- Transceivers ----------------------------------------------------------

NettlebeamApiLinkStatus transceivers(Bench& bench) {
    NettlebeamApiLinkStatus status{};
    auto data = bench.request(code::kTransceiverData, {}, 500);
    EXPECT_TRUE(data.ok);
    EXPECT_TRUE(codec::decodeTransceiverData(data.bytes, status));
    return status;
}

TEST(SimulatedTransceivers, AnInternallyCalibratedShortReachModule) {
    Bench bench(0x4F);
    bench.run(1s);
    auto raw = bench.request(code::kTransceiverData, {}, 500).bytes;
    EXPECT_EQ(raw[0], 1);                 // present
    EXPECT_EQ(raw[1 + 0], 0x03);          // SFP
    EXPECT_EQ(raw[1 + 3], 0x10);          // 10GBASE-SR
    EXPECT_EQ(raw[1 + 92] & 0x70, 0x60);  // diagnostics, internally calibrated
    uint8_t sum = 0;
    for (int i = 0; i < 63; ++i) sum += raw[1 + i];
    EXPECT_EQ(raw[1 + 63], sum) << "base checksum";

    const auto& m = transceivers(bench).sfp[0];
    EXPECT_EQ(m.present, 1);
    EXPECT_EQ(m.wavelength, 850u);
    EXPECT_EQ(m.diagnosticsType, 0);
    EXPECT_EQ(m.lengthOm3, 300);
    EXPECT_STREQ(m.partNumber, "PF-10G-SR85     ");
    EXPECT_EQ(std::string(m.dateCode), "03-15-2026 A1");
    EXPECT_NEAR(m.temperature, 38, 6);
    EXPECT_NEAR(m.vcc, 3.3, 0.05);
    EXPECT_NEAR(m.txPower, 0.56, 0.05);
    EXPECT_FLOAT_EQ(m.highAlarm.temperature, 75);
    EXPECT_NEAR(m.lowWarning.rxPower, 0.0617, 1e-4);
    EXPECT_LT(m.lowAlarm.txBias, m.txBias);
    EXPECT_LT(m.txBias, m.highAlarm.txBias);
}

TEST(SimulatedTransceivers, AnExternallyCalibratedModuleDecodesThroughItsConstants) {
    Bench bench(0x4F);
    bench.run(1s);
    auto raw = bench.request(code::kTransceiverData, {}, 500).bytes;
    EXPECT_EQ(raw[130 + 92] & 0x70, 0x50) << "diagnostics, externally calibrated";
    const auto& m = transceivers(bench).sfp[1];
    EXPECT_EQ(m.diagnosticsType, 2);
    EXPECT_EQ(m.wavelength, 1310u);
    EXPECT_EQ(m.lengthSmf, 10000);
    // Calibrated values land where an LR module sits: the raw counts alone
    // would read 2 degrees warmer, half the bias and a different power.
    EXPECT_NEAR(m.temperature, 38, 6);
    EXPECT_NEAR(m.vcc, 3.3, 0.05);
    EXPECT_NEAR(m.txBias, 42, 4);
    EXPECT_NEAR(m.txPower, 0.63, 0.05);
    EXPECT_GT(m.rxPower, 0.04);
    EXPECT_LT(m.rxPower, 0.18);
    EXPECT_NEAR(m.highAlarm.temperature, 75, 0.01);
    EXPECT_NEAR(m.lowWarning.rxPower, 0.0617, 1e-3);
    EXPECT_NEAR(m.highAlarm.txBias, 90, 0.01);
}

TEST(SimulatedTransceivers, DiagnosticsDriftAndCrossTheReceivePowerWarning) {
    Bench bench(0x4F);
    constexpr uint32_t kRxLowWarning = 1u << 9;
    bool warned = false, clear = false;
    float lowest = 1, highest = 0;
    for (int minute = 0; minute < 12; ++minute) {
        bench.run(60s);
        const auto& m = transceivers(bench).sfp[1];
        lowest = std::min(lowest, m.rxPower);
        highest = std::max(highest, m.rxPower);
        bool flagged = m.alarmFlags & kRxLowWarning;
        EXPECT_EQ(flagged, m.rxPower < m.lowWarning.rxPower) << "minute " << minute;
        (flagged ? warned : clear) = true;
        EXPECT_EQ(transceivers(bench).sfp[0].alarmFlags, 0u) << "the SR module stays healthy";
    }
    EXPECT_TRUE(warned);
    EXPECT_TRUE(clear);
    EXPECT_GT(highest - lowest, 0.05f);
}

TEST(SimulatedTransceivers, AnEmptyCageReportsNoModuleAndNoLink) {
    Bench bench(0x14);
    bench.settings.cages = {TransceiverKind::Empty, TransceiverKind::ShortReach};
    bench.run(2s);
    auto status = transceivers(bench);
    EXPECT_EQ(status.sfp[0].present, 0);
    EXPECT_EQ(status.sfp[1].present, 1);
    EXPECT_EQ(status.sfp[1].diagnosticsType, 0);
    uint8_t speed = bench.request(code::kPortSpeedByte, {}, 1).bytes[0];
    EXPECT_EQ(speed & 0x08, 0) << "cage A has no link";
    EXPECT_EQ(speed & 0x80, 0x80) << "cage B has one";
}

// --- Statistics ------------------------------------------------------------

TEST(SimulatedStatistics, FormatOneCarriesTheSignatureTheDeviceTimeAndTheLinkTimes) {
    Bench bench(0x4D);
    bench.run(11500ms);
    auto reply = bench.request(code::kStatisticsFormat1, {}, 160);
    ASSERT_TRUE(reply.ok);
    uint8_t speed = bench.request(code::kPortSpeedByte, {}, 1).bytes[0];
    NettlebeamApiStatistics stats{};
    ASSERT_EQ(codec::decodeStatisticsFormat1(reply.bytes, speed, stats), 0);
    EXPECT_EQ(le64(reply.bytes, 8 * 18), 11500ull * 50000) << "50 MHz device time";
    EXPECT_EQ(stats.data.v1.linkDownTime, 1500u) << "negotiation";
    EXPECT_EQ(stats.data.v1.linkUpTime, 10000u);
    // Gigabit links: 125 MB/s over 11.5 s.
    EXPECT_EQ(stats.data.v1.portA.speedWeightedCount, 1437500000u);
}

TEST(SimulatedStatistics, CountFramesPerPortAndInTheProgrammableCounters) {
    Bench bench(0x4D);
    bench.settings.idleTraffic = true;
    bench.run(10s);
    NettlebeamApiStatistics stats{};
    ASSERT_EQ(codec::decodeStatisticsFormat1(bench.request(code::kStatisticsFormat1, {}, 160).bytes,
                                             uint8_t{0}, stats),
              0);
    // Links up from 1.5 s: seconds 1 to 9 fed an ARP request (64 bytes) per
    // port, second 5 also a DHCP broadcast (346 bytes).
    for (const auto* port : {&stats.data.v1.portA, &stats.data.v1.portB}) {
        EXPECT_EQ(port->from64To1518, 10u);
        EXPECT_EQ(port->totalBytes, 9u * 64 + 346);
        EXPECT_EQ(port->totalInvalidPackets, 0u);
    }

    Bench ten(0x4F);
    ten.settings.idleTraffic = true;
    ten.run(10s);
    auto reply = ten.request(code::kStatisticsFormat2, {}, 128);
    ASSERT_TRUE(reply.ok);
    uint64_t portAFrames = le64(reply.bytes, 0), portBFrames = le64(reply.bytes, 8);
    uint64_t ipv4 = le64(reply.bytes, 8 * 4), broadcast = le64(reply.bytes, 8 * 9);
    EXPECT_GT(portAFrames, 5u);
    EXPECT_EQ(portAFrames, portBFrames);
    EXPECT_EQ(broadcast, portAFrames + portBFrames);
    EXPECT_GT(ipv4, 0u);
    EXPECT_LT(ipv4, broadcast);
    EXPECT_EQ(le64(reply.bytes, 8 * 15), 0u) << "nothing dropped";
    auto trailer = ten.request(code::kStatisticsTrailer, {}, 16).bytes;
    EXPECT_EQ(le64(trailer, 0), 10000u);
    EXPECT_EQ(le64(trailer, 8), portAFrames + portBFrames);
    EXPECT_EQ(ten.request(code::kHostDropCounter, {}, 8).bytes, std::vector<uint8_t>(8, 0));
}

TEST(SimulatedStatistics, DevicesWithoutSpeedSelectionReportPortBFirst) {
    sim::FrameInfo giant;
    giant.port = 0;
    giant.length = 1600;
    constexpr size_t kFirstGroupOver1518 = 8 * 3, kSecondGroupOver1518 = 8 * 11;
    for (uint8_t id : {uint8_t{0x4B}, uint8_t{0x4D}, uint8_t{0x50}}) {
        Bench bench(id);
        dynamic_cast<sim::SimulatedDevice&>(bench.device()).statistics().countFrame(giant);
        auto reply = bench.request(code::kStatisticsFormat1, {}, 160).bytes;
        bool portAFirst = id != 0x4B;
        EXPECT_EQ(le64(reply, kFirstGroupOver1518), portAFirst ? 1u : 0u) << int(id);
        EXPECT_EQ(le64(reply, kSecondGroupOver1518), portAFirst ? 0u : 1u) << int(id);
        EXPECT_EQ(le64(reply, 0), portAFirst ? 1600u : 0u) << "bytes of the first group";
    }
}

TEST(SimulatedStatistics, ProgrammableCountersMatchTheirDefinitions) {
    Bench bench(0x4F);
    auto& device = dynamic_cast<sim::SimulatedDevice&>(bench.device());
    // Counter 3: bytes of IPv4 UDP frames under 100 bytes from or to 10.x.x.x,
    // on port B only.
    std::vector<uint8_t> block(30, 0);
    block[0] = 3;
    block[1] = 0x01 | 0x04;
    block[2] = 100;
    block[4] = 0x80 | 0x02;   // IPv4, UDP
    block[22] = 0x01 | 0x08;  // less than; UDP tested
    block[23] = 0x02;         // IPv4 tested
    block[6 + 3] = 10;        // the first dotted number sits in the fourth byte
    block[24] = 1u << (2 + 3);
    ASSERT_TRUE(bench.request(code::kWriteCounter, block).ok);
    sim::FrameInfo frame;
    frame.port = 1;
    frame.length = 90;
    frame.ipv4 = frame.udp = true;
    frame.destinationIp = {7, 0, 0, 10};
    device.statistics().countFrame(frame);  // counted: 90 bytes
    auto other = frame;
    other.port = 0;
    device.statistics().countFrame(other);  // wrong port
    other = frame;
    other.length = 100;
    device.statistics().countFrame(other);  // not under 100
    other = frame;
    other.destinationIp = {7, 0, 0, 11};
    device.statistics().countFrame(other);  // another network
    other.sourceIp = {1, 2, 3, 10};
    device.statistics().countFrame(other);  // from 10.x: counted, 90 bytes
    other = frame;
    other.tcp = true;
    other.udp = false;
    device.statistics().countFrame(other);  // TCP
    auto reply = bench.request(code::kStatisticsFormat2, {}, 128).bytes;
    EXPECT_EQ(le64(reply, 8 * 3), 180u);
    EXPECT_EQ(le64(reply, 8 * 6), 1u) << "the power-on TCP counter";
}

}  // namespace
}  // namespace nettlebeam::driver::simtest
