// A minimal SNTP client: one query is one datagram to the server and at most
// one reply read from it. The device clock is set from what it returns, so a
// reply is taken only from the server's address and only when it looks like
// a synchronised server's answer.
#pragma once

#include <QString>
#include <cstddef>
#include <cstdint>

struct SntpServer {
    QString host;
    QString service = QStringLiteral("ntp");  // a service name or a port number
};

struct SntpTime {
    uint32_t unixSeconds = 0;
    uint32_t nanoseconds = 0;
};

constexpr std::size_t kSntpPacketSize = 48;
constexpr int kSntpReplyWaitMs = 200;

// The public pool, unless NETTLEBEAM_NTP_SERVER ("host" or "host:port") names
// another server.
SntpServer sntpServerFromEnvironment();

// The client request: leap indicator 3, version 3, client mode, poll 10.
void buildSntpRequest(uint8_t (&packet)[kSntpPacketSize]);

// Checks a server reply and converts its transmit timestamp. Returns 0, or -3
// when the reply is short, not from a server, unsynchronised, of an invalid
// stratum or carries no transmit time.
int decodeSntpReply(const uint8_t* reply, std::size_t length, SntpTime* time);

// One attempt: resolve, send, wait up to 200 ms, read and check the reply.
// 0 on success; -1 timeout; -2 wait error; -3 bad reply; -4 resolution,
// socket, send or receive failure.
int querySntpServer(const SntpServer& server, SntpTime* time);
