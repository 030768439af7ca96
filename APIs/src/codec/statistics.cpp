#include "codec/statistics.h"

#include <cmath>
#include <cstring>
#include <limits>

#include "byte_order.h"

namespace nettlebeam::codec {
namespace {

constexpr double kDeviceTimeToBytes = 0.025;

// Words of one port group in the format-1 reply.
enum GroupWord : size_t {
    kBytes = 0,
    kUnder64 = 1,
    k64To1518 = 2,
    kOver1518 = 3,
    kCrcErrors = 4,
    kJabbers = 5,
    kCollisions = 6,
    kHwDrops = 7,
};
constexpr size_t kLinkUpWord = 16;
constexpr size_t kLinkDownWord = 17;
constexpr size_t kDeviceTimeWord = 18;
constexpr size_t kSignatureWord = 19;

NettlebeamApiPortStatistics portFromGroup(std::span<const uint8_t> reply, size_t group,
                                          uint64_t deviceTime, uint32_t factor) {
    const auto word = [&](size_t index) { return wire::readLe64(reply, 8 * (8 * group + index)); };
    NettlebeamApiPortStatistics port{};
    port.lessThan64 = word(kUnder64);
    port.from64To1518 = word(k64To1518);
    port.moreThan1518 = word(kOver1518);
    port.collisions = word(kCollisions);
    port.crcErrors = word(kCrcErrors);
    port.jabbers = word(kJabbers);
    port.totalBytes = word(kBytes);
    port.speedWeightedCount = speedWeightedCount(deviceTime, factor);
    port.totalValidPackets = port.lessThan64 + port.from64To1518 + port.moreThan1518;
    port.totalInvalidPackets = port.collisions + port.crcErrors + port.jabbers;
    port.hwDropped = word(kHwDrops);
    return port;
}

// A tri-state condition in the counter block: its value bit and tested bit.
struct Condition {
    int32_t NettlebeamApiCounterV2::*field;
    size_t valueByte;
    unsigned valueBit;
    size_t testedByte;
    unsigned testedBit;
};

constexpr std::array<Condition, 10> kConditions{{
    {&NettlebeamApiCounterV2::isIPv4, 4, 7, 23, 1},
    {&NettlebeamApiCounterV2::isIPv6, 4, 6, 23, 0},
    {&NettlebeamApiCounterV2::isbcast, 4, 5, 22, 7},
    {&NettlebeamApiCounterV2::isucast, 4, 4, 22, 6},
    {&NettlebeamApiCounterV2::ismcast, 4, 3, 22, 5},
    {&NettlebeamApiCounterV2::isicmp, 4, 2, 22, 4},
    {&NettlebeamApiCounterV2::isudp, 4, 1, 22, 3},
    {&NettlebeamApiCounterV2::istcp, 4, 0, 22, 2},
    {&NettlebeamApiCounterV2::iscrcValid, 5, 7, 24, 1},
    {&NettlebeamApiCounterV2::isDropped, 5, 6, 24, 0},
}};

// Size comparison codes, indexed by sizeMode (0 greater, 1 less, 2 equal).
constexpr std::array<uint8_t, 3> kSizeCodes{2, 1, 3};

// The enable bit of pattern byte i: 48 bits from byte 24 bit 2 on.
constexpr size_t kMaskFirstBit = 24 * 8 + 2;

size_t maskByte(size_t patternIndex) {
    return (kMaskFirstBit + patternIndex) / 8;
}
unsigned maskBit(size_t patternIndex) {
    return static_cast<unsigned>((kMaskFirstBit + patternIndex) % 8);
}

}  // namespace

uint32_t speedFactor(unsigned speedCode) {
    switch (speedCode & 3) {
        case 0:
            return 100;
        case 2:
            return 10;
        default:
            return 1;
    }
}

uint64_t speedWeightedCount(uint64_t deviceTime, uint32_t factor) {
    const double bytes = static_cast<double>(deviceTime) * kDeviceTimeToBytes * factor;
    // 2^64 itself is not representable as uint64_t: everything from there saturates.
    constexpr double kTwoTo64 = 18446744073709551616.0;
    if (!(bytes < kTwoTo64)) return std::numeric_limits<uint64_t>::max();
    return static_cast<uint64_t>(bytes);
}

int32_t decodeStatisticsFormat1(std::span<const uint8_t> reply,
                                std::optional<uint8_t> portSpeedByte,
                                NettlebeamApiStatistics& stats) {
    stats.version = 1;
    if (reply.size() < kStatisticsFormat1Size) return NETTLEBEAM_STATUS_FAILED;
    if (wire::readLe64(reply, 8 * kSignatureWord) != kFormat1Signature)
        return NETTLEBEAM_STATUS_FAILED;
    const uint64_t deviceTime = wire::readLe64(reply, 8 * kDeviceTimeWord);
    auto& v1 = stats.data.v1;
    if (portSpeedByte) {
        v1.portA = portFromGroup(reply, 0, deviceTime, speedFactor(*portSpeedByte));
        v1.portB = portFromGroup(reply, 1, deviceTime, speedFactor(*portSpeedByte >> 4));
    } else {
        v1.portB = portFromGroup(reply, 0, deviceTime, 1);
        v1.portA = portFromGroup(reply, 1, deviceTime, 1);
    }
    v1.linkUpTime = wire::readLe64(reply, 8 * kLinkUpWord) / kTicksPerMillisecond;
    v1.linkDownTime = wire::readLe64(reply, 8 * kLinkDownWord) / kTicksPerMillisecond;
    return NETTLEBEAM_STATUS_SUCCESS;
}

bool decodeStatisticsFormat2(std::span<const uint8_t> reply, NettlebeamApiStatistics& stats) {
    stats.version = 2;
    if (reply.size() < kStatisticsFormat2Size) return false;
    for (size_t i = 0; i < NETTLEBEAM_PROGRAMMABLE_COUNTERS; ++i) {
        stats.data.v2.counters[i] = wire::readLe64(reply, 8 * i);
    }
    return true;
}

std::optional<uint64_t> decodeHostDropped(std::span<const uint8_t> reply) {
    if (reply.size() < kHostDroppedSize) return std::nullopt;
    return wire::readLe64(reply, 0);
}

bool storeStatisticsTrailer(std::span<const uint8_t> reply, NettlebeamApiStatistics& stats) {
    if (reply.size() < NETTLEBEAM_STATISTICS_TRAILER_SIZE) return false;
    uint8_t* trailer = stats.version == 1   ? stats.data.v1.trailer
                       : stats.version == 2 ? stats.data.v2.trailer
                                            : nullptr;
    if (trailer == nullptr) return false;
    std::memcpy(trailer, reply.data(), NETTLEBEAM_STATISTICS_TRAILER_SIZE);
    return true;
}

std::array<uint8_t, kCounterBlockSize> encodeCounterBlock(const NettlebeamApiCounterV2& c) {
    std::array<uint8_t, kCounterBlockSize> block{};
    block[0] = static_cast<uint8_t>(c.index);
    block[1] = static_cast<uint8_t>((c.mode == 1 ? 1 : 0) | (c.port1 == 1 ? 2 : 0) |
                                    (c.port2 == 1 ? 4 : 0));
    wire::writeLe16(block, 2, static_cast<uint16_t>(c.size));
    for (const auto& cond : kConditions) {
        const int32_t value = c.*cond.field;
        if (value != 0 && value != 1) continue;
        block[cond.testedByte] |= static_cast<uint8_t>(1u << cond.testedBit);
        if (value == 1) block[cond.valueByte] |= static_cast<uint8_t>(1u << cond.valueBit);
    }
    if (c.sizeMode >= 0 && c.sizeMode <= 2) block[22] |= kSizeCodes[c.sizeMode];
    for (size_t i = 0; i < 16; ++i) {
        if (c.ipMask[i] == 0) continue;
        block[6 + i] = c.ip[i];
        block[maskByte(i)] |= static_cast<uint8_t>(1u << maskBit(i));
    }
    return block;
}

std::optional<NettlebeamApiCounterV2> decodeCounterBlock(std::span<const uint8_t> block) {
    if (block.size() < kCounterBlockSize) return std::nullopt;
    NettlebeamApiCounterV2 c{};
    const unsigned sizeCode = block[22] & 3;
    c.sizeMode = -1;
    for (size_t mode = 0; mode < kSizeCodes.size(); ++mode) {
        if (kSizeCodes[mode] == sizeCode) {
            c.sizeMode = static_cast<int32_t>(mode);
            c.size = wire::readLe16(block, 2);
        }
    }
    for (const auto& cond : kConditions) {
        const bool tested = wire::bitSet(block[cond.testedByte], cond.testedBit);
        c.*cond.field = tested ? (wire::bitSet(block[cond.valueByte], cond.valueBit) ? 1 : 0) : -1;
    }
    std::memcpy(c.ip, block.data() + 6, sizeof c.ip);
    for (size_t i = 0; i < 16; ++i) {
        c.ipMask[i] = wire::bitSet(block[maskByte(i)], maskBit(i)) ? 0xFF : 0;
    }
    c.mode = wire::bitSet(block[1], 0) ? 1 : 0;
    c.port1 = wire::bitSet(block[1], 1) ? 1 : 0;
    c.port2 = wire::bitSet(block[1], 2) ? 1 : 0;
    return c;
}

}  // namespace nettlebeam::codec
