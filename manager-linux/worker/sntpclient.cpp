#include "sntpclient.h"

#include <arpa/inet.h>
#include <netdb.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QByteArray>
#include <cstdio>
#include <cstring>

namespace {

constexpr char kDefaultServer[] = "pool.ntp.org";
constexpr uint32_t kNtpToUnixOffset = 2208988800u;  // seconds from 1900 to 1970
constexpr uint8_t kModeServer = 4;
constexpr uint8_t kLeapUnsynchronised = 3;
constexpr uint8_t kMaxStratum = 15;
constexpr std::size_t kTransmitOffset = 40;

uint32_t readBigEndian32(const uint8_t* p) {
    return (uint32_t(p[0]) << 24) | (uint32_t(p[1]) << 16) | (uint32_t(p[2]) << 8) | p[3];
}

// Closes the descriptor on every way out of an attempt.
class SocketGuard {
  public:
    explicit SocketGuard(int fd) : fd_(fd) {}
    ~SocketGuard() {
        if (fd_ >= 0) ::close(fd_);
    }
    SocketGuard(const SocketGuard&) = delete;
    SocketGuard& operator=(const SocketGuard&) = delete;
    int fd() const { return fd_; }

  private:
    int fd_;
};

// The last IPv4 address among the resolver's answers, as the original client
// picked it.
bool resolveIpv4(const SntpServer& server, sockaddr_in* destination) {
    addrinfo* results = nullptr;
    const QByteArray host = server.host.toLocal8Bit();
    const QByteArray service = server.service.toLocal8Bit();
    if (::getaddrinfo(host.constData(), service.constData(), nullptr, &results) != 0) return false;
    bool found = false;
    for (addrinfo* entry = results; entry != nullptr; entry = entry->ai_next) {
        if (entry->ai_family == AF_INET && entry->ai_addrlen >= sizeof(sockaddr_in)) {
            std::memcpy(destination, entry->ai_addr, sizeof(sockaddr_in));
            found = true;
        }
    }
    ::freeaddrinfo(results);
    return found;
}

// 0 readable, -1 timeout, -2 error.
int waitReadable(int fd) {
    pollfd entry{fd, POLLIN, 0};
    int ready;
    do {
        ready = ::poll(&entry, 1, kSntpReplyWaitMs);
    } while (ready < 0 && errno == EINTR);
    if (ready == 0) {
        std::fputs("Timeout..\n", stdout);
        std::fflush(stdout);
        return -1;
    }
    if (ready < 0 || (entry.revents & POLLIN) == 0) {
        std::fputs("Error..\n", stdout);
        std::fflush(stdout);
        return -2;
    }
    return 0;
}

}  // namespace

SntpServer sntpServerFromEnvironment() {
    SntpServer server;
    server.host = QString::fromLatin1(kDefaultServer);
    const QString configured = qEnvironmentVariable("NETTLEBEAM_NTP_SERVER").trimmed();
    if (configured.isEmpty()) return server;
    // "host:port" when there is exactly one colon; anything else is a host name.
    const int colon = configured.indexOf(QLatin1Char(':'));
    if (colon > 0 && configured.indexOf(QLatin1Char(':'), colon + 1) < 0) {
        server.host = configured.left(colon);
        server.service = configured.mid(colon + 1);
    } else {
        server.host = configured;
    }
    return server;
}

void buildSntpRequest(uint8_t (&packet)[kSntpPacketSize]) {
    std::memset(packet, 0, sizeof packet);
    packet[0] = 0xDB;
    packet[2] = 0x0A;
}

int decodeSntpReply(const uint8_t* reply, std::size_t length, SntpTime* time) {
    if (reply == nullptr || length < kSntpPacketSize) return -3;
    const uint8_t leap = reply[0] >> 6;
    const uint8_t mode = reply[0] & 0x07;
    const uint8_t stratum = reply[1];
    if (mode != kModeServer || leap == kLeapUnsynchronised) return -3;
    if (stratum == 0 || stratum > kMaxStratum) return -3;
    const uint32_t seconds = readBigEndian32(reply + kTransmitOffset);
    const uint32_t fraction = readBigEndian32(reply + kTransmitOffset + 4);
    if (seconds == 0 && fraction == 0) return -3;
    // Wraps modulo 2^32 like the device's 32-bit time values.
    time->unixSeconds = seconds - kNtpToUnixOffset;
    time->nanoseconds = uint32_t((uint64_t(fraction) * 1000000000u) >> 32);
    return 0;
}

int querySntpServer(const SntpServer& server, SntpTime* time) {
    uint8_t request[kSntpPacketSize];
    buildSntpRequest(request);
    sockaddr_in destination{};
    if (!resolveIpv4(server, &destination)) return -4;
    SocketGuard socket(::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, IPPROTO_UDP));
    if (socket.fd() < 0) return -4;
    // A connected datagram socket delivers only the server's own datagrams.
    if (::connect(socket.fd(), reinterpret_cast<const sockaddr*>(&destination),
                  sizeof destination) != 0) {
        return -4;
    }
    if (::send(socket.fd(), request, sizeof request, 0) != ssize_t(sizeof request)) return -4;
    const int waited = waitReadable(socket.fd());
    if (waited != 0) return waited;
    // One byte more than a packet so that the length check sees any size.
    uint8_t reply[kSntpPacketSize + 1] = {};
    const ssize_t received = ::recv(socket.fd(), reply, sizeof reply, MSG_DONTWAIT);
    if (received < 0) return -4;
    return decodeSntpReply(reply, std::size_t(received), time);
}
