// Inline forwarding in the kernel: on each interface's ingress, a filter
// matching every frame whose mirred action redirects every frame out of the other
// interface, so forwarding runs at the kernel's speed whatever the daemon
// does. Packet sockets see a frame before the ingress filters, so the
// device still receives everything.
//
// The filters carry the daemon's mark: their priority, and the daemon's
// process id as their class id. A daemon that was killed leaves its
// redirects in place — the link keeps passing traffic, as a hardware TAP
// fails open — and the next start finds and removes exactly those whose
// daemon is gone, never anyone else's nor those of a daemon still running.
#pragma once

#include <array>
#include <string>

struct nl_sock;

namespace nettlebeam::driver::netif {

class InlineForwarding {
  public:
    // Adds the ingress qdiscs where missing. Throws std::runtime_error
    // naming the interface and the kernel's reason.
    InlineForwarding(std::array<std::string, 2> names, std::array<int, 2> indexes);
    // Removes the redirects, and the ingress qdiscs it added.
    ~InlineForwarding();
    InlineForwarding(const InlineForwarding&) = delete;
    InlineForwarding& operator=(const InlineForwarding&) = delete;

    // Frames received on port `from` (0 A, 1 B) leave on the other port, or
    // not. Returns the kernel's reason when it refuses, empty otherwise.
    std::string forward(int from, bool on);

  private:
    void release();
    nl_sock* socket_ = nullptr;
    std::array<std::string, 2> names_;
    std::array<int, 2> indexes_{};
    std::array<bool, 2> addedQdisc_{};
    std::array<bool, 2> forwarding_{};
};

// Removes every redirect that carries the mark of a daemon no longer
// running, on every interface of the network namespace; returns one line
// per removed redirect naming its interface.
std::string removeStaleRedirects();

}  // namespace nettlebeam::driver::netif
