#include "filters.h"

#include <algorithm>
#include <bit>
#include <cstring>

#include "byte_order.h"

namespace nettlebeam::traffic {
namespace {

// Packet filter block layout.
constexpr size_t kDstMac = 8, kSrcMac = 14, kDstIp = 20, kSrcIp = 36, kDstPort = 52, kSrcPort = 54,
                 kCareMask = 56, kEither = 62, kFieldFlags = 64;
constexpr size_t kComparedFrom = kDstMac;  // care bit n covers block byte 8 + n

enum FieldFlag : uint32_t {
    kIPv6Addresses = 1u << 0,
    kDstMacUsed = 1u << 1,
    kSrcMacUsed = 1u << 2,
    kDstIpUsed = 1u << 3,
    kSrcIpUsed = 1u << 4,
    kDstPortUsed = 1u << 5,
    kSrcPortUsed = 1u << 6,
};
enum EitherFlag : uint16_t { kEitherMac = 1, kEitherIp = 2, kEitherPort = 4 };

// A value written the way the block stores it: last byte first.
template <size_t N>
std::array<uint8_t, N> reversed(const uint8_t* networkOrder, size_t length = N) {
    std::array<uint8_t, N> out{};
    for (size_t i = 0; i < length; ++i) out[i] = networkOrder[length - 1 - i];
    return out;
}

}  // namespace

std::optional<PacketTypeFilter> PacketTypeFilter::fromBlock(std::span<const uint8_t> block) {
    if (block.size() != kBlockSize) return std::nullopt;
    PacketTypeFilter f;
    f.word_ = wire::readLe64(block, 0);
    return f;
}

bool PacketTypeFilter::passesAll() const {
    constexpr uint64_t kClassBits = 0xA000000063FFFF8Eull;  // bits 1-3, 7-25, 29, 30, 61, 63
    static_assert((kClassBits & classBit(PacketClass::Quic)) != 0 &&
                  (kClassBits & classBit(PacketClass::OtherLayer4)) != 0 &&
                  (kClassBits & classBit(PacketClass::TcpZeroWindow)) != 0 &&
                  (kClassBits & (uint64_t{1} << 26)) == 0);
    return (word_ & kClassBits) == kClassBits;
}

std::array<uint8_t, PacketTypeFilter::kBlockSize> PacketTypeFilter::block() const {
    std::array<uint8_t, kBlockSize> out{};
    wire::writeLe64(out, 0, word_);
    return out;
}

DpiFilter::DpiFilter() {
    wire::writeLe32(block_, 216, 1);
}

std::optional<DpiFilter> DpiFilter::fromBlock(std::span<const uint8_t> block) {
    if (block.size() != kBlockSize) return std::nullopt;
    DpiFilter f;
    std::copy(block.begin(), block.end(), f.block_.begin());
    f.enabled_ = (block[220] & 1) != 0;
    std::copy_n(block.begin(), 32, f.pattern_.begin());
    f.mask_ = wire::readLe32(block, 32);
    if (f.mask_ != 0) {
        f.anchor_ = static_cast<size_t>(std::countr_zero(f.mask_));
        f.length_ = 32 - static_cast<size_t>(std::countl_zero(f.mask_));
    }
    return f;
}

bool DpiFilter::passes(const Frame& frame, const FrameInfo& info) const {
    if (length_ == 0) return true;
    const uint8_t* payload = frame.bytes.data() + info.payloadOffset;
    const size_t available = frame.bytes.size() - info.payloadOffset;
    if (available < length_) return false;
    const uint8_t anchorByte = pattern_[anchor_];
    // Scan for the first significant byte, then compare the rest in place.
    const uint8_t* searchFrom = payload + anchor_;
    const uint8_t* searchEnd = payload + (available - length_) + anchor_ + 1;
    while (searchFrom < searchEnd) {
        const auto* hit = static_cast<const uint8_t*>(
            std::memchr(searchFrom, anchorByte, static_cast<size_t>(searchEnd - searchFrom)));
        if (hit == nullptr) return false;
        const uint8_t* start = hit - anchor_;
        bool all = true;
        for (size_t i = anchor_ + 1; i < length_ && all; ++i)
            all = !((mask_ >> i) & 1u) || start[i] == pattern_[i];
        if (all) return true;
        searchFrom = hit + 1;
    }
    return false;
}

PacketFilter::PacketFilter() {
    wire::writeLe32(block_, 0, 1);
}

std::optional<PacketFilter> PacketFilter::fromBlock(std::span<const uint8_t> block) {
    if (block.size() != kBlockSize) return std::nullopt;
    PacketFilter f;
    std::copy(block.begin(), block.end(), f.block_.begin());
    f.enabled_ = (block[4] & 1) != 0;
    for (size_t i = 0; i < 6; ++i)
        f.care_ |= static_cast<uint64_t>(block[kCareMask + i]) << (8 * i);
    f.either_ = wire::readLe16(block, kEither);
    f.fieldFlags_ = wire::readLe32(block, kFieldFlags);
    return f;
}

bool PacketFilter::fieldMatches(size_t offset, size_t length, const uint8_t* candidate) const {
    for (size_t i = 0; i < length; ++i) {
        const size_t careBit = offset + i - kComparedFrom;
        if (((care_ >> careBit) & 1u) && block_[offset + i] != candidate[i]) return false;
    }
    return true;
}

bool PacketFilter::groupMatches(size_t dstOffset, size_t srcOffset, size_t length, bool dstUsed,
                                bool srcUsed, bool either, const uint8_t* frameDst,
                                const uint8_t* frameSrc) const {
    auto direction = [&](const uint8_t* dst, const uint8_t* src) {
        return (!dstUsed || fieldMatches(dstOffset, length, dst)) &&
               (!srcUsed || fieldMatches(srcOffset, length, src));
    };
    return direction(frameDst, frameSrc) || (either && direction(frameSrc, frameDst));
}

bool PacketFilter::passes(const FrameInfo& info) const {
    const bool dstMacUsed = fieldFlags_ & kDstMacUsed, srcMacUsed = fieldFlags_ & kSrcMacUsed;
    if (dstMacUsed || srcMacUsed) {
        const auto dst = reversed<6>(info.dstMac.data());
        const auto src = reversed<6>(info.srcMac.data());
        if (!groupMatches(kDstMac, kSrcMac, 6, dstMacUsed, srcMacUsed, either_ & kEitherMac,
                          dst.data(), src.data()))
            return false;
    }
    const bool dstIpUsed = fieldFlags_ & kDstIpUsed, srcIpUsed = fieldFlags_ & kSrcIpUsed;
    if (dstIpUsed || srcIpUsed) {
        const bool wantIPv6 = fieldFlags_ & kIPv6Addresses;
        if (wantIPv6 ? !info.ipv6 : !info.ipv4) return false;
        const size_t length = wantIPv6 ? 16 : 4;
        // An IPv4 filter compares the first four stored bytes only.
        const auto dst = reversed<16>(info.dstIp.data(), length);
        const auto src = reversed<16>(info.srcIp.data(), length);
        if (!groupMatches(kDstIp, kSrcIp, length, dstIpUsed, srcIpUsed, either_ & kEitherIp,
                          dst.data(), src.data()))
            return false;
    }
    const bool dstPortUsed = fieldFlags_ & kDstPortUsed, srcPortUsed = fieldFlags_ & kSrcPortUsed;
    if (dstPortUsed || srcPortUsed) {
        if (!info.hasPorts) return false;
        const std::array<uint8_t, 2> dst{static_cast<uint8_t>(info.dstPort),
                                         static_cast<uint8_t>(info.dstPort >> 8)};
        const std::array<uint8_t, 2> src{static_cast<uint8_t>(info.srcPort),
                                         static_cast<uint8_t>(info.srcPort >> 8)};
        if (!groupMatches(kDstPort, kSrcPort, 2, dstPortUsed, srcPortUsed, either_ & kEitherPort,
                          dst.data(), src.data()))
            return false;
    }
    return true;
}

}  // namespace nettlebeam::traffic
