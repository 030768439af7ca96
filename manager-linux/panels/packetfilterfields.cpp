#include "packetfilterfields.h"

#include <cstddef>

namespace PacketFilterFields {
namespace {

constexpr int kFirstKeyOffset = 10;
constexpr int kLowCareBits = 28;
constexpr uint32_t kLowCareMask = (1u << kLowCareBits) - 1;
constexpr uint32_t kHighCareMask = (1u << 20) - 1;

static_assert(offsetof(NettlebeamApiPacketFilter, dstMac) == DstMac);
static_assert(offsetof(NettlebeamApiPacketFilter, srcMac) == SrcMac);
static_assert(offsetof(NettlebeamApiPacketFilter, dstIp) == DstIp);
static_assert(offsetof(NettlebeamApiPacketFilter, srcIp) == SrcIp);
static_assert(offsetof(NettlebeamApiPacketFilter, dstPort) == DstPort);
static_assert(offsetof(NettlebeamApiPacketFilter, srcPort) == SrcPort);

uint8_t* recordBytes(NettlebeamApiPacketFilter& filter) {
    return reinterpret_cast<uint8_t*>(&filter);
}
const uint8_t* recordBytes(const NettlebeamApiPacketFilter& filter) {
    return reinterpret_cast<const uint8_t*>(&filter);
}
uint64_t careBit(int offset) {
    return uint64_t{1} << (offset - kFirstKeyOffset);
}

}  // namespace

uint64_t careMask(const NettlebeamApiPacketFilter& filter) {
    return (filter.careMaskLow & kLowCareMask) |
           (uint64_t{filter.careMaskHigh & kHighCareMask} << kLowCareBits);
}

void setCareMask(NettlebeamApiPacketFilter& filter, uint64_t mask) {
    filter.careMaskLow =
        (filter.careMaskLow & ~kLowCareMask) | (static_cast<uint32_t>(mask) & kLowCareMask);
    filter.careMaskHigh = (filter.careMaskHigh & ~kHighCareMask) |
                          (static_cast<uint32_t>(mask >> kLowCareBits) & kHighCareMask);
}

void storeBytes(NettlebeamApiPacketFilter& filter, Field field, const QByteArray& bytes,
                const QByteArray& mask) {
    uint64_t care = careMask(filter);
    const int count = static_cast<int>(bytes.size());
    for (int i = 0; i < count; ++i) {
        const int offset = field + count - 1 - i;
        recordBytes(filter)[offset] = static_cast<uint8_t>(bytes[i]);
        if (i < mask.size() && static_cast<uint8_t>(mask[i]) == 0xFF) care |= careBit(offset);
    }
    setCareMask(filter, care);
}

QByteArray loadBytes(const NettlebeamApiPacketFilter& filter, Field field, int count) {
    QByteArray bytes(count, '\0');
    for (int i = 0; i < count; ++i)
        bytes[i] = static_cast<char>(recordBytes(filter)[field + count - 1 - i]);
    return bytes;
}

QByteArray loadMask(const NettlebeamApiPacketFilter& filter, Field field, int count) {
    const uint64_t care = careMask(filter);
    QByteArray mask(count, '\0');
    for (int i = 0; i < count; ++i) {
        if ((care & careBit(field + count - 1 - i)) != 0) mask[i] = static_cast<char>(0xFF);
    }
    return mask;
}

void storePort(NettlebeamApiPacketFilter& filter, Field field, uint16_t port) {
    (field == DstPort ? filter.dstPort : filter.srcPort) = port;
    setCareMask(filter, careMask(filter) | careBit(field) | careBit(field + 1));
}

}  // namespace PacketFilterFields
