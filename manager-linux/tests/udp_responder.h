// A scripted SNTP server on 127.0.0.1: answers each request with what the
// script returns for it, optionally from a second socket (another port), and
// records what it received.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

using Datagram = std::vector<uint8_t>;

struct ScriptedReply {
    Datagram bytes;
    bool fromOtherPort = false;  // sent by a socket that is not the server's
};

class UdpResponder {
  public:
    // `script(n, request)` gives the reply to the n-th request (from 0), or
    // nothing to stay silent.
    using Script = std::function<std::optional<ScriptedReply>(int, const Datagram&)>;

    explicit UdpResponder(Script script);
    ~UdpResponder();
    UdpResponder(const UdpResponder&) = delete;
    UdpResponder& operator=(const UdpResponder&) = delete;

    uint16_t port() const { return port_; }
    int requestCount() const { return requests_.load(); }
    std::vector<Datagram> received() const;

  private:
    void serve();

    Script script_;
    int socket_ = -1;
    int otherSocket_ = -1;
    int stopPipe_[2] = {-1, -1};
    uint16_t port_ = 0;
    std::atomic<int> requests_{0};
    mutable std::mutex mutex_;
    std::vector<Datagram> received_;
    std::thread thread_;
};

// A 48-byte server reply: mode 4, stratum 2, no leap warning, the given
// transmit timestamp (NTP seconds and fraction).
Datagram sntpServerReply(uint32_t ntpSeconds, uint32_t fraction);
