#include "filter_store.h"

#include <algorithm>

#include "byte_order.h"

namespace nettlebeam::driver::sim {

namespace {

// Packet-type word bits that stand for no packet class: the device expects
// them set.
constexpr uint64_t kPacketTypeFixedBits = 0x5FFFFFFF9C000071ull;
constexpr uint32_t kBlockTag = 1;

bool allZero(std::span<const uint8_t> bytes) {
    return std::all_of(bytes.begin(), bytes.end(), [](uint8_t b) { return b == 0; });
}

bool isFlag(uint32_t v) {
    return v == 0 || v == 1;
}

bool dpiWellFormed(std::span<const uint8_t> b) {
    return allZero(b.subspan(36, 180)) && wire::readLe32(b, 216) == kBlockTag &&
           isFlag(wire::readLe32(b, 220));
}

bool packetWellFormed(std::span<const uint8_t> b) {
    constexpr uint16_t kEitherDirectionBits = 0x7;
    constexpr uint32_t kFieldFlagBits = 0x7F;
    return wire::readLe32(b, 0) == kBlockTag && isFlag(wire::readLe32(b, 4)) &&
           (wire::readLe16(b, 62) & ~kEitherDirectionBits) == 0 &&
           (wire::readLe32(b, 64) & ~kFieldFlagBits) == 0 && allZero(b.subspan(68));
}

std::vector<uint8_t> defaultBlock(FilterKind kind) {
    std::vector<uint8_t> block(FilterStore::blockSize(kind), 0);
    switch (kind) {
        case FilterKind::PacketType:
            std::fill(block.begin(), block.end(), 0xFF);  // every class passes
            break;
        case FilterKind::Dpi:
            wire::writeLe32(block, 216, kBlockTag);
            break;
        case FilterKind::Packet:
            wire::writeLe32(block, 0, kBlockTag);
            break;
    }
    return block;
}

}  // namespace

FilterStore::FilterStore() {
    for (auto kind : {FilterKind::PacketType, FilterKind::Dpi, FilterKind::Packet})
        current_.push_back(defaultBlock(kind));
    saved_ = current_;
}

size_t FilterStore::blockSize(FilterKind kind) {
    switch (kind) {
        case FilterKind::PacketType:
            return kPacketTypeSize;
        case FilterKind::Dpi:
            return kDpiSize;
        case FilterKind::Packet:
            return kPacketSize;
    }
    return 0;
}

bool FilterStore::wellFormed(FilterKind kind, std::span<const uint8_t> block) {
    if (block.size() != blockSize(kind)) return false;
    switch (kind) {
        case FilterKind::PacketType:
            return (wire::readLe64(block, 0) & kPacketTypeFixedBits) == kPacketTypeFixedBits;
        case FilterKind::Dpi:
            return dpiWellFormed(block);
        case FilterKind::Packet:
            return packetWellFormed(block);
    }
    return false;
}

bool FilterStore::write(FilterKind kind, std::span<const uint8_t> block) {
    if (!wellFormed(kind, block)) return false;
    current_[index(kind)].assign(block.begin(), block.end());
    return true;
}

bool FilterStore::restoreSaved(FilterKind kind, std::span<const uint8_t> block) {
    if (!wellFormed(kind, block)) return false;
    saved_[index(kind)].assign(block.begin(), block.end());
    return true;
}

}  // namespace nettlebeam::driver::sim
