#include "codec/filters.h"

#include <cstring>

#include "byte_order.h"

namespace nettlebeam::codec {
namespace {

constexpr uint32_t kCareLowMask = 0x0FFFFFFF;   // care bits 0..27
constexpr uint32_t kCareHighMask = 0x000FFFFF;  // care bits 28..47
constexpr unsigned kCareHighShift = 28;

// DPI block
constexpr size_t kDpiPattern = 0;
constexpr size_t kDpiMask = 32;
constexpr size_t kDpiConstant = 216;
constexpr size_t kDpiEnabled = 220;

// Packet filter block
constexpr size_t kPfConstant = 0;
constexpr size_t kPfEnabled = 4;
constexpr size_t kPfDstMac = 8;
constexpr size_t kPfSrcMac = 14;
constexpr size_t kPfDstIp = 20;
constexpr size_t kPfSrcIp = 36;
constexpr size_t kPfDstPort = 52;
constexpr size_t kPfSrcPort = 54;
constexpr size_t kPfCareMask = 56;
constexpr size_t kPfEitherDirection = 62;
constexpr size_t kPfFieldFlags = 64;

}  // namespace

uint64_t encodePacketsTypeWord(const NettlebeamApiPacketsTypeFilter& filter) {
    uint64_t word = ~0ull;
    for (size_t i = 0; i < kPacketTypeBits.size(); ++i) {
        if (filter.flags[i] == 0) word &= ~(1ull << kPacketTypeBits[i]);
    }
    return word;
}

std::array<uint8_t, kPacketsTypeBlockSize> encodePacketsTypeBlock(
    const NettlebeamApiPacketsTypeFilter& filter) {
    std::array<uint8_t, kPacketsTypeBlockSize> block{};
    wire::writeLe64(block, 0, encodePacketsTypeWord(filter));
    return block;
}

std::optional<NettlebeamApiPacketsTypeFilter> decodePacketsTypeBlock(
    std::span<const uint8_t> reply) {
    if (reply.size() < kPacketsTypeBlockSize) return std::nullopt;
    const uint64_t word = wire::readLe64(reply, 0);
    NettlebeamApiPacketsTypeFilter filter{};
    for (size_t i = 0; i < kPacketTypeBits.size(); ++i) {
        filter.flags[i] = static_cast<uint8_t>((word >> kPacketTypeBits[i]) & 1);
    }
    return filter;
}

std::array<uint8_t, kDpiBlockSize> encodeDpiBlock(const NettlebeamApiDpiFilter& filter) {
    std::array<uint8_t, kDpiBlockSize> block{};
    std::memcpy(block.data() + kDpiPattern, filter.pattern, sizeof filter.pattern);
    wire::writeLe32(block, kDpiMask, filter.mask);
    wire::writeLe32(block, kDpiConstant, 1);
    wire::writeLe32(block, kDpiEnabled, filter.enabled == 1 ? 1 : 0);
    return block;
}

std::optional<NettlebeamApiDpiFilter> decodeDpiBlock(std::span<const uint8_t> reply) {
    if (reply.size() < kDpiBlockSize) return std::nullopt;
    NettlebeamApiDpiFilter filter{};
    filter.enabled = reply[kDpiEnabled] & 1;
    std::memcpy(filter.pattern, reply.data() + kDpiPattern, sizeof filter.pattern);
    filter.mask = wire::readLe32(reply, kDpiMask);
    return filter;
}

std::array<uint8_t, kPacketFilterBlockSize> encodePacketFilterBlock(
    const NettlebeamApiPacketFilter& filter) {
    std::array<uint8_t, kPacketFilterBlockSize> block{};
    wire::writeLe32(block, kPfConstant, 1);
    wire::writeLe32(block, kPfEnabled, filter.enabled == 1 ? 1 : 0);
    std::memcpy(block.data() + kPfDstMac, filter.dstMac, sizeof filter.dstMac);
    std::memcpy(block.data() + kPfSrcMac, filter.srcMac, sizeof filter.srcMac);
    std::memcpy(block.data() + kPfDstIp, filter.dstIp, sizeof filter.dstIp);
    std::memcpy(block.data() + kPfSrcIp, filter.srcIp, sizeof filter.srcIp);
    wire::writeLe16(block, kPfDstPort, filter.dstPort);
    wire::writeLe16(block, kPfSrcPort, filter.srcPort);
    const uint64_t care =
        (filter.careMaskLow & kCareLowMask) |
        (static_cast<uint64_t>(filter.careMaskHigh & kCareHighMask) << kCareHighShift);
    for (size_t i = 0; i < 6; ++i) block[kPfCareMask + i] = static_cast<uint8_t>(care >> (8 * i));
    wire::writeLe16(block, kPfEitherDirection, filter.eitherDirection);
    wire::writeLe32(block, kPfFieldFlags, filter.fieldFlags);
    return block;
}

bool decodePacketFilterBlock(std::span<const uint8_t> reply, NettlebeamApiPacketFilter& filter) {
    if (reply.size() < kPacketFilterBlockSize) return false;
    filter.enabled = wire::readLe32(reply, kPfEnabled) == 1 ? 1 : 0;
    std::memcpy(filter.dstMac, reply.data() + kPfDstMac, sizeof filter.dstMac);
    std::memcpy(filter.srcMac, reply.data() + kPfSrcMac, sizeof filter.srcMac);
    std::memcpy(filter.dstIp, reply.data() + kPfDstIp, sizeof filter.dstIp);
    std::memcpy(filter.srcIp, reply.data() + kPfSrcIp, sizeof filter.srcIp);
    filter.dstPort = wire::readLe16(reply, kPfDstPort);
    filter.srcPort = wire::readLe16(reply, kPfSrcPort);
    uint64_t care = 0;
    for (size_t i = 0; i < 6; ++i) care |= static_cast<uint64_t>(reply[kPfCareMask + i]) << (8 * i);
    filter.careMaskLow = (filter.careMaskLow & ~kCareLowMask) | (care & kCareLowMask);
    filter.careMaskHigh = (filter.careMaskHigh & ~kCareHighMask) |
                          (static_cast<uint32_t>(care >> kCareHighShift) & kCareHighMask);
    filter.eitherDirection = wire::readLe16(reply, kPfEitherDirection);
    filter.fieldFlags = wire::readLe32(reply, kPfFieldFlags);
    return true;
}

}  // namespace nettlebeam::codec
