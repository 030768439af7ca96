#include "sntp_client.h"

#include <netdb.h>
#include <poll.h>
#include <sys/random.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "text.h"

namespace beamctl {
namespace {

constexpr std::int64_t kNtpToUnix = 2208988800;  // seconds from 1900 to 1970
constexpr std::int64_t kEra = std::int64_t{1} << 32;
constexpr std::uint8_t kVersion = 4;
constexpr std::uint8_t kModeClient = 3;
constexpr std::uint8_t kModeServer = 4;
constexpr std::uint8_t kLeapAlarm = 3;
constexpr int kMaxStratum = 15;
constexpr std::size_t kReferenceIdOffset = 12;
constexpr std::size_t kOriginateOffset = 24;
constexpr std::size_t kReceiveOffset = 32;
constexpr std::size_t kTransmitOffset = 40;

std::uint32_t readBe32(std::span<const std::uint8_t> bytes, std::size_t offset) {
    return (std::uint32_t{bytes[offset]} << 24) | (std::uint32_t{bytes[offset + 1]} << 16) |
           (std::uint32_t{bytes[offset + 2]} << 8) | bytes[offset + 3];
}

NtpTimestamp readTimestamp(std::span<const std::uint8_t> bytes, std::size_t offset) {
    return {readBe32(bytes, offset), readBe32(bytes, offset + 4)};
}

void writeTimestamp(SntpPacket& packet, std::size_t offset, NtpTimestamp time) {
    for (int i = 0; i < 4; ++i) {
        packet[offset + i] = static_cast<std::uint8_t>(time.seconds >> (24 - 8 * i));
        packet[offset + 4 + i] = static_cast<std::uint8_t>(time.fraction >> (24 - 8 * i));
    }
}

// Seconds since 1970 with the fraction, for the offset arithmetic.
double secondsOf(NtpTimestamp time) {
    return static_cast<double>(unixSecondsOf(time)) + time.fraction / 4294967296.0;
}

bool printable(std::uint8_t c) {
    return c >= 0x20 && c < 0x7F;
}

// A kiss-o'-death reply carries its reason as four ASCII letters.
std::string kissCode(std::span<const std::uint8_t> reply) {
    std::string code;
    for (std::size_t i = 0; i < 4; ++i) {
        const std::uint8_t c = reply[kReferenceIdOffset + i];
        if (c == 0) break;
        code += printable(c) ? static_cast<char>(c) : '?';
    }
    return code;
}

class Socket {
  public:
    explicit Socket(int fd) : fd_(fd) {}
    ~Socket() {
        if (fd_ >= 0) ::close(fd_);
    }
    Socket(const Socket&) = delete;
    Socket& operator=(const Socket&) = delete;
    int fd() const { return fd_; }

  private:
    int fd_;
};

struct AddressList {
    addrinfo* first = nullptr;
    ~AddressList() {
        if (first != nullptr) ::freeaddrinfo(first);
    }
};

}  // namespace

NtpTimestamp ntpTimestampOf(std::chrono::system_clock::time_point time) {
    const auto sinceEpoch =
        std::chrono::duration_cast<std::chrono::nanoseconds>(time.time_since_epoch());
    const std::int64_t unixSeconds = std::chrono::floor<std::chrono::seconds>(sinceEpoch).count();
    const std::int64_t nanoseconds = sinceEpoch.count() - unixSeconds * 1000000000;
    return {
        static_cast<std::uint32_t>(unixSeconds + kNtpToUnix),
        static_cast<std::uint32_t>((static_cast<std::uint64_t>(nanoseconds) << 32) / 1000000000u)};
}

std::int64_t unixSecondsOf(NtpTimestamp time) {
    const bool firstEra = (time.seconds & 0x80000000u) != 0;
    return static_cast<std::int64_t>(time.seconds) + (firstEra ? 0 : kEra) - kNtpToUnix;
}

std::uint32_t nanosecondsOf(NtpTimestamp time) {
    return static_cast<std::uint32_t>((std::uint64_t{time.fraction} * 1000000000u) >> 32);
}

std::string SntpServer::text() const {
    const bool bracketed = host.find(':') != std::string::npos;
    return (bracketed ? "[" + host + "]" : host) + ":" + port;
}

std::variant<SntpServer, std::string> parseSntpServer(const std::string& text) {
    SntpServer server;
    std::string port;
    if (!text.empty() && text.front() == '[') {
        const std::size_t close = text.find(']');
        if (close == std::string::npos) return format("'%s' lacks its ']'", text.c_str());
        server.host = text.substr(1, close - 1);
        const std::string rest = text.substr(close + 1);
        if (!rest.empty() && rest.front() != ':') {
            return format("'%s' has text after its ']'", text.c_str());
        }
        if (!rest.empty()) port = rest.substr(1);
        if (rest == ":") return format("'%s' names no port after ':'", text.c_str());
    } else if (std::count(text.begin(), text.end(), ':') == 1) {
        const std::size_t colon = text.find(':');
        server.host = text.substr(0, colon);
        port = text.substr(colon + 1);
        if (port.empty()) return format("'%s' names no port after ':'", text.c_str());
    } else {
        // No colon, or an IPv6 address without a port.
        server.host = text;
    }
    if (server.host.empty()) return format("'%s' names no server", text.c_str());
    if (!port.empty()) {
        char* end = nullptr;
        errno = 0;
        const unsigned long value = std::strtoul(port.c_str(), &end, 10);
        if (errno != 0 || *end != '\0' || value == 0 || value > 65535 ||
            !std::isdigit(static_cast<unsigned char>(port.front()))) {
            return format("'%s' is not a port from 1 to 65535", port.c_str());
        }
        server.port = port;
    }
    return server;
}

SntpPacket sntpRequest(NtpTimestamp transmit) {
    SntpPacket packet{};
    packet[0] = static_cast<std::uint8_t>((kVersion << 3) | kModeClient);
    writeTimestamp(packet, kTransmitOffset, transmit);
    return packet;
}

std::variant<SntpAnswer, std::string> checkSntpReply(std::span<const std::uint8_t> reply,
                                                     NtpTimestamp sent, NtpTimestamp received) {
    if (reply.size() < kSntpPacketSize) {
        return format("the reply has %zu bytes, fewer than %zu", reply.size(), kSntpPacketSize);
    }
    const unsigned leap = reply[0] >> 6;
    const unsigned version = (reply[0] >> 3) & 7;
    const unsigned mode = reply[0] & 7;
    const int stratum = reply[1];
    if (mode != kModeServer) return format("the reply is in mode %u, not a server's (4)", mode);
    if (version < 3 || version > 4) return format("the reply is of NTP version %u", version);
    if (stratum == 0) {
        return format("the server refused (kiss code '%s')", kissCode(reply).c_str());
    }
    if (stratum > kMaxStratum) return format("the server is unsynchronised (stratum %d)", stratum);
    if (leap == kLeapAlarm) return std::string("the server's clock is not synchronised");
    if (readTimestamp(reply, kOriginateOffset) != sent) {
        return std::string("the reply does not answer this request (originate time differs)");
    }
    SntpAnswer answer;
    answer.transmit = readTimestamp(reply, kTransmitOffset);
    if (answer.transmit == NtpTimestamp{}) return std::string("the reply carries no time");
    answer.stratum = stratum;
    const double t1 = secondsOf(sent);
    const double t2 = secondsOf(readTimestamp(reply, kReceiveOffset));
    const double t3 = secondsOf(answer.transmit);
    const double t4 = secondsOf(received);
    answer.hostOffset = ((t2 - t1) + (t3 - t4)) / 2;
    return answer;
}

std::variant<SntpAnswer, std::string> querySntp(const SntpServer& server,
                                                std::chrono::milliseconds timeout) {
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_DGRAM;
    AddressList addresses;
    if (const int failed =
            ::getaddrinfo(server.host.c_str(), server.port.c_str(), &hints, &addresses.first);
        failed != 0) {
        return format("cannot resolve %s: %s", server.host.c_str(), ::gai_strerror(failed));
    }
    const addrinfo& address = *addresses.first;
    Socket socket(::socket(address.ai_family, SOCK_DGRAM | SOCK_CLOEXEC, 0));
    // A connected datagram socket delivers only the server's own datagrams.
    if (socket.fd() < 0 || ::connect(socket.fd(), address.ai_addr, address.ai_addrlen) != 0) {
        return format("cannot reach %s: %s", server.text().c_str(), std::strerror(errno));
    }
    // The low bits of the fraction, below a microsecond, are random so that
    // an unasked datagram cannot guess the originate time to echo.
    NtpTimestamp sent = ntpTimestampOf(std::chrono::system_clock::now());
    std::uint32_t noise = 0;
    if (::getrandom(&noise, sizeof noise, GRND_NONBLOCK) == sizeof noise) {
        sent.fraction ^= noise & 0xFFFu;
    }
    const SntpPacket request = sntpRequest(sent);
    if (::send(socket.fd(), request.data(), request.size(), 0) !=
        static_cast<ssize_t>(request.size())) {
        return format("cannot send to %s: %s", server.text().c_str(), std::strerror(errno));
    }
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    for (;;) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        pollfd entry{socket.fd(), POLLIN, 0};
        const int ready = left.count() > 0 ? ::poll(&entry, 1, static_cast<int>(left.count())) : 0;
        if (ready < 0 && errno == EINTR) continue;
        if (ready == 0) {
            return format("no reply from %s within %lld ms", server.text().c_str(),
                          static_cast<long long>(timeout.count()));
        }
        if (ready < 0)
            return format("waiting for %s failed: %s", server.text().c_str(), std::strerror(errno));
        // One byte more than a packet: a longer datagram (with extensions)
        // is still a reply; a shorter one is caught by the length check.
        std::array<std::uint8_t, kSntpPacketSize + 1> reply{};
        const ssize_t length = ::recv(socket.fd(), reply.data(), reply.size(), MSG_DONTWAIT);
        const NtpTimestamp received = ntpTimestampOf(std::chrono::system_clock::now());
        if (length < 0 && (errno == EAGAIN || errno == EINTR)) continue;
        if (length < 0) {
            // A refused port comes back as an ICMP error on the connected socket.
            return format("no reply from %s: %s", server.text().c_str(), std::strerror(errno));
        }
        return checkSntpReply(std::span(reply.data(), static_cast<std::size_t>(length)), sent,
                              received);
    }
}

}  // namespace beamctl
