#include "counter_store.h"

#include "byte_order.h"
#include "codec/power_on_counters.h"
#include "codec/statistics.h"

namespace nettlebeam::driver::sim {

namespace {

// Byte 22 bits 0 to 1.
constexpr uint8_t kSizeLess = 1;
constexpr uint8_t kSizeGreater = 2;
constexpr uint8_t kSizeEqual = 3;

// One tri-state condition: where its value bit and its tested bit live.
struct Condition {
    size_t valueByte;
    uint8_t valueBit;
    size_t testedByte;
    uint8_t testedBit;
    bool FrameInfo::*property;
};

bool isUnicast(const FrameInfo& f) {
    return !f.broadcast && !f.multicast;
}

constexpr Condition kConditions[] = {
    {4, 7, 23, 1, &FrameInfo::ipv4},      {4, 6, 23, 0, &FrameInfo::ipv6},
    {4, 5, 22, 7, &FrameInfo::broadcast}, {4, 3, 22, 5, &FrameInfo::multicast},
    {4, 2, 22, 4, &FrameInfo::icmp},      {4, 1, 22, 3, &FrameInfo::udp},
    {4, 0, 22, 2, &FrameInfo::tcp},       {5, 7, 24, 1, &FrameInfo::crcValid},
    {5, 6, 24, 0, &FrameInfo::dropped},
};
// Unicast has no FrameInfo member of its own: value byte 4 bit 4, tested byte 22 bit 6.

bool bit(const CounterStore::Block& b, size_t byte, int n) {
    return (b[byte] >> n) & 1;
}

bool ipByteEnabled(const CounterStore::Block& b, int i) {
    int position = i + 2;  // the enables start at byte 24 bit 2
    return bit(b, 24 + position / 8, position % 8);
}

bool ipMatches(const CounterStore::Block& b, const std::array<uint8_t, 16>& ip) {
    for (int i = 0; i < 16; ++i)
        if (ipByteEnabled(b, i) && b[6 + i] != ip[i]) return false;
    return true;
}

bool sizeMatches(const CounterStore::Block& b, uint32_t length) {
    uint16_t size = wire::readLe16(b, 2);
    switch (b[22] & 3) {
        case kSizeLess:
            return length < size;
        case kSizeGreater:
            return length > size;
        case kSizeEqual:
            return length == size;
        default:
            return true;
    }
}

// Reserved bits the device keeps at zero.
bool reservedClear(const CounterStore::Block& b) {
    return (b[1] & ~0x07) == 0 && (b[5] & 0x3F) == 0 && (b[23] & ~0x03) == 0 &&
           (b[26] & ~0x03) == 0 && b[27] == 0 && b[28] == 0 && b[29] == 0;
}

}  // namespace

void CounterStore::powerOn() {
    for (const NettlebeamApiCounterV2& definition : codec::powerOnCounters()) {
        definitions_[static_cast<size_t>(definition.index)] = codec::encodeCounterBlock(definition);
    }
    values_ = {};
}

bool CounterStore::write(std::span<const uint8_t> block) {
    if (block.size() != kBlockSize || block[0] >= kCount) return false;
    Block b{};
    std::copy(block.begin(), block.end(), b.begin());
    if (!reservedClear(b)) return false;
    definitions_[b[0]] = b;
    values_[b[0]] = 0;
    return true;
}

std::optional<CounterStore::Block> CounterStore::read(uint32_t index) const {
    if (index >= kCount) return std::nullopt;
    return definitions_[index];
}

bool CounterStore::matches(const Block& b, const FrameInfo& frame) {
    bool onPort = frame.port == 0 ? bit(b, 1, 1) : bit(b, 1, 2);
    if (!onPort) return false;
    for (const auto& c : kConditions) {
        if (bit(b, c.testedByte, c.testedBit) &&
            bit(b, c.valueByte, c.valueBit) != frame.*c.property)
            return false;
    }
    if (bit(b, 22, 6) && bit(b, 4, 4) != isUnicast(frame)) return false;
    if (!sizeMatches(b, frame.length)) return false;
    return ipMatches(b, frame.sourceIp) || ipMatches(b, frame.destinationIp);
}

void CounterStore::count(const FrameInfo& frame) {
    for (size_t i = 0; i < kCount; ++i) {
        if (!matches(definitions_[i], frame)) continue;
        values_[i] += bit(definitions_[i], 1, 0) ? frame.length : 1;
    }
}

}  // namespace nettlebeam::driver::sim
