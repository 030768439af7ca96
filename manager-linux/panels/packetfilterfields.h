// The key fields of the packet filter record as the editors see them: an
// address is a run of bytes in written order (the first byte of "aa:bb:..."
// first) with a compared/wildcard flag per byte, while the record keeps it
// last byte first with one care bit per record byte.
#pragma once

#include <QByteArray>
#include <cstdint>

#include "NettlebeamAPI.h"

namespace PacketFilterFields {

// Record offsets of the key fields; care bit n covers the byte at offset 10 + n.
enum Field : int {
    DstMac = 10,
    SrcMac = 16,
    DstIp = 22,
    SrcIp = 38,
    DstPort = 54,
    SrcPort = 56,
};

// The 48 care bits of the record as one number.
uint64_t careMask(const NettlebeamApiPacketFilter& filter);
// Sets the 48 care bits; the caller's bits above them in both words are kept.
void setCareMask(NettlebeamApiPacketFilter& filter, uint64_t mask);

// Stores `bytes` (written order, at most the field's width) at `field`: byte
// i at offset field + size - 1 - i, its care bit set when mask[i] is 0xFF.
// `mask` has the same size as `bytes`.
void storeBytes(NettlebeamApiPacketFilter& filter, Field field, const QByteArray& bytes,
                const QByteArray& mask);
// The `count` bytes at `field` in written order, and their masks: 0xFF for a
// byte whose care bit is set, else 0.
QByteArray loadBytes(const NettlebeamApiPacketFilter& filter, Field field, int count);
QByteArray loadMask(const NettlebeamApiPacketFilter& filter, Field field, int count);

// A port with both of its care bits.
void storePort(NettlebeamApiPacketFilter& filter, Field field, uint16_t port);

}  // namespace PacketFilterFields
