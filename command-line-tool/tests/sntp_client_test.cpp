// The SNTP client's checks of a reply, its time arithmetic, the server
// argument, and a server that never answers. A real server (chronyd) is
// queried through `beamctl time set` in scripting_test.cpp.
#include "sntp_client.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <string>
#include <variant>

namespace beamctl {
namespace {

using namespace std::chrono_literals;

const NtpTimestamp kSent = {0xEB000000u, 0x40000000u};  // 2024-12-08 11:22:40.25 UTC

void put(SntpPacket& packet, std::size_t offset, NtpTimestamp time) {
    for (int i = 0; i < 4; ++i) {
        packet[offset + i] = static_cast<std::uint8_t>(time.seconds >> (24 - 8 * i));
        packet[offset + 4 + i] = static_cast<std::uint8_t>(time.fraction >> (24 - 8 * i));
    }
}

// A synchronised stratum-2 server's version-4 answer to kSent, received
// 10 s ahead of the host clock and sent 0.5 s later.
SntpPacket goodReply() {
    SntpPacket reply{};
    reply[0] = (4 << 3) | 4;
    reply[1] = 2;
    put(reply, 24, kSent);
    put(reply, 32, {kSent.seconds + 10, kSent.fraction});
    put(reply, 40, {kSent.seconds + 10, kSent.fraction + 0x80000000u});
    return reply;
}

std::string refusal(const SntpPacket& reply, std::size_t length = kSntpPacketSize) {
    const auto checked =
        checkSntpReply(std::span(reply.data(), length), kSent, {kSent.seconds + 1, kSent.fraction});
    const auto* reason = std::get_if<std::string>(&checked);
    return reason != nullptr ? *reason : "accepted";
}

TEST(SntpReply, IsTakenOnlyAsASynchronisedServersAnswerToThisRequest) {
    const auto accepted = checkSntpReply(goodReply(), kSent, {kSent.seconds + 1, kSent.fraction});
    ASSERT_TRUE(std::holds_alternative<SntpAnswer>(accepted)) << refusal(goodReply());
    const SntpAnswer& answer = std::get<SntpAnswer>(accepted);
    EXPECT_EQ(answer.stratum, 2);
    EXPECT_EQ(answer.transmit, (NtpTimestamp{kSent.seconds + 10, kSent.fraction + 0x80000000u}));
    // ((T2 - T1) + (T3 - T4)) / 2 = (10 + 9.5) / 2
    EXPECT_DOUBLE_EQ(answer.hostOffset, 9.75);

    SntpPacket reply = goodReply();
    EXPECT_EQ(refusal(reply, 47), "the reply has 47 bytes, fewer than 48");
    reply[0] = (4 << 3) | 3;
    EXPECT_EQ(refusal(reply), "the reply is in mode 3, not a server's (4)");
    reply = goodReply();
    reply[0] = (7 << 3) | 4;
    EXPECT_EQ(refusal(reply), "the reply is of NTP version 7");
    reply = goodReply();
    reply[1] = 0;
    reply[12] = 'R', reply[13] = 'A', reply[14] = 'T', reply[15] = 'E';
    EXPECT_EQ(refusal(reply), "the server refused (kiss code 'RATE')");
    reply = goodReply();
    reply[1] = 16;
    EXPECT_EQ(refusal(reply), "the server is unsynchronised (stratum 16)");
    reply = goodReply();
    reply[0] |= 0xC0;
    EXPECT_EQ(refusal(reply), "the server's clock is not synchronised");
    reply = goodReply();
    put(reply, 24, {kSent.seconds, kSent.fraction + 1});
    EXPECT_EQ(refusal(reply), "the reply does not answer this request (originate time differs)");
    reply = goodReply();
    put(reply, 40, {});
    EXPECT_EQ(refusal(reply), "the reply carries no time");
}

TEST(SntpTime, ConvertsBothErasAndTheFraction) {
    const auto unix2026 = std::chrono::system_clock::time_point(1796000000s + 250ms);
    const NtpTimestamp time = ntpTimestampOf(unix2026);
    EXPECT_EQ(unixSecondsOf(time), 1796000000);
    EXPECT_NEAR(nanosecondsOf(time), 250000000u, 1u);
    EXPECT_EQ(sntpRequest(time)[0], 0x23) << "version 4, client mode";
    // Without the top bit the seconds count from 2036-02-07.
    EXPECT_EQ(unixSecondsOf(NtpTimestamp{0x00000010u, 0}), 2085978496 + 16);
    EXPECT_EQ(unixSecondsOf(NtpTimestamp{0xFFFFFFFFu, 0}), 2085978495);
}

TEST(SntpServerArgument, TakesAHostAPortOrAnIpv6AddressAndRefusesTheRest) {
    const auto server = [](const std::string& text) {
        const auto parsed = parseSntpServer(text);
        if (const auto* reason = std::get_if<std::string>(&parsed)) return "refused: " + *reason;
        return std::get<SntpServer>(parsed).text();
    };
    EXPECT_EQ(server("ntp.example"), "ntp.example:123");
    EXPECT_EQ(server("127.0.0.1:40123"), "127.0.0.1:40123");
    EXPECT_EQ(server("::1"), "[::1]:123");
    EXPECT_EQ(server("[::1]:5123"), "[::1]:5123");
    EXPECT_EQ(server("host:0"), "refused: '0' is not a port from 1 to 65535");
    EXPECT_EQ(server("host:65536"), "refused: '65536' is not a port from 1 to 65535");
    EXPECT_EQ(server("host:+12"), "refused: '+12' is not a port from 1 to 65535");
    EXPECT_EQ(server("host:"), "refused: 'host:' names no port after ':'");
    EXPECT_EQ(server(":123"), "refused: ':123' names no server");
    EXPECT_EQ(server("[::1"), "refused: '[::1' lacks its ']'");
    EXPECT_EQ(server("[::1]x"), "refused: '[::1]x' has text after its ']'");
}

TEST(SntpQuery, ASilentServerIsATimeoutAndAnUnknownHostIsNamed) {
    // A bound socket that never reads: the request is delivered and ignored.
    const int silent = ::socket(AF_INET, SOCK_DGRAM, 0);
    ASSERT_GE(silent, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    ASSERT_EQ(::bind(silent, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    ASSERT_EQ(::getsockname(silent, reinterpret_cast<sockaddr*>(&address), &length), 0);
    const std::string port = std::to_string(ntohs(address.sin_port));
    const auto answer = querySntp(SntpServer{"127.0.0.1", port}, 50ms);
    ::close(silent);
    ASSERT_TRUE(std::holds_alternative<std::string>(answer));
    EXPECT_EQ(std::get<std::string>(answer), "no reply from 127.0.0.1:" + port + " within 50 ms");

    const auto unknown = querySntp(SntpServer{"no-such-host.invalid", "123"}, 50ms);
    ASSERT_TRUE(std::holds_alternative<std::string>(unknown));
    EXPECT_EQ(std::get<std::string>(unknown).rfind("cannot resolve no-such-host.invalid: ", 0), 0u)
        << std::get<std::string>(unknown);
}

}  // namespace
}  // namespace beamctl
