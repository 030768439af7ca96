#include "packet_ring.h"

#include <arpa/inet.h>
#include <linux/if_ether.h>
#include <linux/if_packet.h>
#include <linux/net_tstamp.h>
#include <sys/mman.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <stdexcept>

namespace nettlebeam::driver::netif {

namespace {

// Sized for the largest jumbo frame with its headers; the ring's frame size
// only sets how many frames the kernel counts per block.
constexpr unsigned kFrameSize = 1u << 11;
// A block that is not full is handed over after this long, so a trickle of
// frames reaches the captures within a few milliseconds.
constexpr unsigned kBlockTimeoutMs = 8;

std::string systemError(const std::string& what, const std::string& interface) {
    return what + " on interface " + interface + ": " + std::strerror(errno);
}

}  // namespace

PacketRing::PacketRing(const std::string& interface, int index)
    : interface_(interface), index_(index) {
    // Protocol 0 receives nothing until bind() names the interface.
    fd_ = socket(AF_PACKET, SOCK_RAW | SOCK_CLOEXEC, 0);
    if (fd_ < 0) throw std::runtime_error(systemError("cannot open a packet socket", interface));
    auto fail = [&](const std::string& what) {
        const std::string text = systemError(what, interface);
        if (map_ != nullptr) munmap(map_, kBlockSize * kBlockCount);
        close(fd_);
        throw std::runtime_error(text);
    };
    int version = TPACKET_V3;
    if (setsockopt(fd_, SOL_PACKET, PACKET_VERSION, &version, sizeof version) != 0)
        fail("cannot choose the TPACKET_V3 ring");
    // Hardware timestamps where the interface stamps frames, else the
    // kernel's software receive time.
    int stamping = SOF_TIMESTAMPING_RAW_HARDWARE;
    setsockopt(fd_, SOL_PACKET, PACKET_TIMESTAMP, &stamping, sizeof stamping);
    // The port sees what arrives on the wire, not what the host sends.
    int ignore = 1;
    setsockopt(fd_, SOL_PACKET, PACKET_IGNORE_OUTGOING, &ignore, sizeof ignore);
    tpacket_req3 request{};
    request.tp_block_size = kBlockSize;
    request.tp_block_nr = kBlockCount;
    request.tp_frame_size = kFrameSize;
    request.tp_frame_nr = kBlockSize / kFrameSize * kBlockCount;
    request.tp_retire_blk_tov = kBlockTimeoutMs;
    if (setsockopt(fd_, SOL_PACKET, PACKET_RX_RING, &request, sizeof request) != 0)
        fail("cannot set up the receive ring");
    void* map = mmap(nullptr, kBlockSize * kBlockCount, PROT_READ | PROT_WRITE,
                     MAP_SHARED | MAP_LOCKED, fd_, 0);
    if (map == MAP_FAILED)
        map = mmap(nullptr, kBlockSize * kBlockCount, PROT_READ | PROT_WRITE, MAP_SHARED, fd_, 0);
    if (map == MAP_FAILED) fail("cannot map the receive ring");
    map_ = static_cast<uint8_t*>(map);
    sockaddr_ll address{};
    address.sll_family = AF_PACKET;
    address.sll_protocol = htons(ETH_P_ALL);
    address.sll_ifindex = index;
    if (bind(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0)
        fail("cannot bind the packet socket");
    packet_mreq membership{};
    membership.mr_ifindex = index;
    membership.mr_type = PACKET_MR_PROMISC;
    if (setsockopt(fd_, SOL_PACKET, PACKET_ADD_MEMBERSHIP, &membership, sizeof membership) != 0)
        fail("cannot make the interface promiscuous");
    // Drops counted before the ring was ready are not the device's.
    takeDrops();
}

void PacketRing::leavePromiscuous() {
    packet_mreq membership{};
    membership.mr_ifindex = index_;
    membership.mr_type = PACKET_MR_PROMISC;
    // Fails only when the membership is already gone, which is the aim.
    setsockopt(fd_, SOL_PACKET, PACKET_DROP_MEMBERSHIP, &membership, sizeof membership);
}

PacketRing::~PacketRing() {
    munmap(map_, kBlockSize * kBlockCount);
    close(fd_);
}

const PacketRing::Received* PacketRing::peek() {
    if (headValid_) return &head_;
    for (;;) {
        if (remaining_ == 0) {
            auto* desc = reinterpret_cast<tpacket_block_desc*>(block(current_));
            if (holding_) {
                // Every frame of the block is taken: it goes back to the kernel.
                std::atomic_thread_fence(std::memory_order_release);
                desc->hdr.bh1.block_status = TP_STATUS_KERNEL;
                holding_ = false;
                current_ = (current_ + 1) % kBlockCount;
                desc = reinterpret_cast<tpacket_block_desc*>(block(current_));
            }
            if ((__atomic_load_n(&desc->hdr.bh1.block_status, __ATOMIC_ACQUIRE) & TP_STATUS_USER) ==
                0)
                return nullptr;
            holding_ = true;
            remaining_ = desc->hdr.bh1.num_pkts;
            packet_ = block(current_) + desc->hdr.bh1.offset_to_first_pkt;
            if (remaining_ == 0) continue;
        }
        const auto* header = reinterpret_cast<const tpacket3_hdr*>(packet_);
        const auto* link =
            reinterpret_cast<const sockaddr_ll*>(packet_ + TPACKET_ALIGN(sizeof(tpacket3_hdr)));
        if (link->sll_pkttype == PACKET_OUTGOING) {
            pop();  // kernels without PACKET_IGNORE_OUTGOING
            continue;
        }
        head_.bytes = {packet_ + header->tp_mac, header->tp_snaplen};
        head_.length = header->tp_len;
        // The kernel takes a VLAN tag out of the frame on receive and hands
        // it over beside it; the port saw it on the wire, so it goes back in.
        if ((header->tp_status & TP_STATUS_VLAN_VALID) && head_.bytes.size() >= 12) {
            const uint16_t tpid = (header->tp_status & TP_STATUS_VLAN_TPID_VALID)
                                      ? header->hv1.tp_vlan_tpid
                                      : uint16_t{ETH_P_8021Q};
            const uint16_t tci = header->hv1.tp_vlan_tci;
            tagged_.assign(head_.bytes.begin(), head_.bytes.begin() + 12);
            tagged_.insert(tagged_.end(),
                           {static_cast<uint8_t>(tpid >> 8), static_cast<uint8_t>(tpid),
                            static_cast<uint8_t>(tci >> 8), static_cast<uint8_t>(tci)});
            tagged_.insert(tagged_.end(), head_.bytes.begin() + 12, head_.bytes.end());
            head_.bytes = tagged_;
            head_.length += 4;
        }
        head_.timestampNs = uint64_t{header->tp_sec} * 1'000'000'000u + header->tp_nsec;
        headValid_ = true;
        return &head_;
    }
}

void PacketRing::pop() {
    headValid_ = false;
    if (remaining_ == 0) return;
    const auto* header = reinterpret_cast<const tpacket3_hdr*>(packet_);
    if (--remaining_ > 0) packet_ += header->tp_next_offset;
}

uint64_t PacketRing::takeDrops() {
    tpacket_stats_v3 stats{};
    socklen_t length = sizeof stats;
    // Reading the statistics resets them.
    if (getsockopt(fd_, SOL_PACKET, PACKET_STATISTICS, &stats, &length) != 0) return 0;
    return stats.tp_drops;
}

}  // namespace nettlebeam::driver::netif
