// A small SNTP client (RFC 4330) for setting a device clock: one request
// datagram, at most one reply, and a reply is taken only when it is the
// answer of a synchronised server to this very request.
#pragma once

#include <array>
#include <chrono>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <variant>

namespace beamctl {

inline constexpr std::size_t kSntpPacketSize = 48;
using SntpPacket = std::array<std::uint8_t, kSntpPacketSize>;

// A time as NTP carries it: seconds since 1900 (in the era the top bit
// tells, see RFC 4330 section 3) and a 32-bit binary fraction.
struct NtpTimestamp {
    std::uint32_t seconds = 0;
    std::uint32_t fraction = 0;
    bool operator==(const NtpTimestamp&) const = default;
};

NtpTimestamp ntpTimestampOf(std::chrono::system_clock::time_point time);
// Unix seconds and nanoseconds; timestamps without the top bit belong to
// the era that begins in 2036.
std::int64_t unixSecondsOf(NtpTimestamp time);
std::uint32_t nanosecondsOf(NtpTimestamp time);

// "host" or "host:port" (the port defaults to 123); an IPv6 address goes in
// brackets when it has a port: "[::1]:123".
struct SntpServer {
    std::string host;
    std::string port = "123";
    std::string text() const;
};
// The server, or why `text` does not name one.
std::variant<SntpServer, std::string> parseSntpServer(const std::string& text);

// A client request (version 4, client mode) whose transmit timestamp is
// `transmit`; the server echoes it as the originate timestamp.
SntpPacket sntpRequest(NtpTimestamp transmit);

struct SntpAnswer {
    NtpTimestamp transmit;  // the server's time when it answered
    int stratum = 0;
    // How far the host clock is behind the server's, in seconds (RFC 4330:
    // ((T2 - T1) + (T3 - T4)) / 2).
    double hostOffset = 0;
};

// Checks `reply` as the answer to a request sent with transmit timestamp
// `sent` and received at `received`: its length, leap indicator (not the
// alarm), version, server mode, stratum (1 to 15; 0 gives the kiss code),
// a transmit time, and the originate timestamp equal to `sent`.
// The answer, or why the reply is refused.
std::variant<SntpAnswer, std::string> checkSntpReply(std::span<const std::uint8_t> reply,
                                                     NtpTimestamp sent, NtpTimestamp received);

// Resolves the server, sends one request from a socket connected to it and
// waits up to `timeout` for the reply. The answer, or why there is none.
std::variant<SntpAnswer, std::string> querySntp(const SntpServer& server,
                                                std::chrono::milliseconds timeout);

}  // namespace beamctl
