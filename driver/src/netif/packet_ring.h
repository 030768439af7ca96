// One interface's receive ring: a packet socket with a TPACKET_V3 ring the
// kernel fills block by block, mapped into the daemon, so frames arrive
// without a system call each. The socket holds a promiscuous membership on
// the interface, which the kernel drops when the socket closes, however the
// daemon ends.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace nettlebeam::driver::netif {

class PacketRing {
  public:
    struct Received {
        std::span<const uint8_t> bytes;  // from the destination MAC, without FCS, VLAN tag in place
        uint32_t length = 0;             // the frame's length as received, without FCS
        uint64_t timestampNs = 0;        // the kernel's receive time, Unix epoch
    };

    // Opens the ring on the interface with this index. Throws
    // std::runtime_error naming the interface and the system's reason.
    PacketRing(const std::string& interface, int index);
    ~PacketRing();
    PacketRing(const PacketRing&) = delete;
    PacketRing& operator=(const PacketRing&) = delete;

    // Readable when the kernel has handed over a block.
    int descriptor() const { return fd_; }
    // The oldest frame not yet taken, or null when the kernel has handed
    // over none. It stays valid until the next call of peek() after pop().
    const Received* peek();
    // Takes the frame peek() returned.
    void pop();
    // Frames the kernel dropped because the ring was full, since the last call.
    uint64_t takeDrops();
    // Gives up the promiscuous membership now rather than when the socket
    // closes; safe while another thread reads the ring.
    void leavePromiscuous();

  private:
    uint8_t* block(size_t index) const { return map_ + index * kBlockSize; }
    static constexpr size_t kBlockSize = size_t{1} << 20;
    static constexpr size_t kBlockCount = 16;

    std::string interface_;
    int index_ = 0;
    int fd_ = -1;
    uint8_t* map_ = nullptr;
    size_t current_ = 0;      // the block being read
    bool holding_ = false;    // current_ belongs to the daemon until released
    uint32_t remaining_ = 0;  // frames of current_ not yet taken
    const uint8_t* packet_ = nullptr;
    Received head_;
    std::vector<uint8_t> tagged_;  // head_'s bytes when its VLAN tag was put back
    bool headValid_ = false;
};

}  // namespace nettlebeam::driver::netif
