// Link status replies: the port speed byte, the link status byte, the PHY
// link details and the transceiver modules' EEPROM pages (serial ID page A0
// and diagnostics page A2, as SFF-8472 numbers them).
#pragma once

#include <cstdint>
#include <span>

#include "NettlebeamAPI.h"

namespace nettlebeam::codec {

inline constexpr size_t kLinkDetailsSize = 20;
inline constexpr size_t kTransceiverDataSize = 500;
inline constexpr size_t kSfpA0Size = 128;
// Cage B's diagnostics page is one byte shorter than cage A's in the reply.
inline constexpr size_t kSfpA2MinSize = 120;

// Gigabit copper devices: fills linkValid, portCount and both port entries.
// In inline mode both ports share the link; without a link their halfDuplex
// is left as it was.
void decodeGigabitPortSpeedByte(uint8_t byte, bool inlineMode, NettlebeamApiLinkStatus& status);

// Fast-Ethernet devices: both ports share the link described by bits 0 to 3.
void decodeFastEthernetPortSpeedByte(uint8_t byte, NettlebeamApiLinkStatus& status);

// First-generation gigabit devices: the one-byte link status.
void decodeLinkStatusByte(uint8_t byte, NettlebeamApiLinkStatus& status);

// PHY details of both ports; needs the ports' speeds already decoded. False
// (nothing written) when the reply is shorter than kLinkDetailsSize.
bool decodeLinkDetails(std::span<const uint8_t> reply, NettlebeamApiLinkStatus& status);

// Both transceiver modules; false (nothing written) when the reply is
// shorter than kTransceiverDataSize.
bool decodeTransceiverData(std::span<const uint8_t> reply, NettlebeamApiLinkStatus& status);

// One module from its presence byte and its two pages; `a2` must hold at
// least kSfpA2MinSize bytes and `a0` kSfpA0Size bytes.
NettlebeamApiSfpModule decodeSfpModule(uint8_t presence, std::span<const uint8_t, kSfpA0Size> a0,
                                       std::span<const uint8_t> a2);

// SONET reach class 0 to 7 from A0 bytes 4 and 5.
int32_t sonetReach(uint8_t byte4, uint8_t byte5);

}  // namespace nettlebeam::codec
