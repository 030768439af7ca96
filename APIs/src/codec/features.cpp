#include "codec/features.h"

#include "byte_order.h"

namespace nettlebeam::codec {
namespace {

// Word 0: capture options.
constexpr unsigned kKeepCrcErrorsBit = 0;
constexpr unsigned kKeepCrc32Bit = 1;
constexpr unsigned kSyncTimestampsBit = 3;
constexpr unsigned kPacketSlicingBit = 5;
constexpr unsigned kInlineModeBit = 6;
constexpr unsigned kDisablePortABit = 19;
constexpr unsigned kDisablePortBBit = 20;
constexpr unsigned kLoopbackBit = 24;
constexpr unsigned kWord0Bit25 = 25;
constexpr uint32_t kWord0KeptBits = 0xFCE7FF94;

// Word 1: timestamps flag beside the port advertisement.
constexpr unsigned kTimestampsBit = 28;
constexpr uint32_t kWord1KeptBySpeeds = 0xF0F08080;

// Word 2: timing options.
constexpr unsigned kPpsOutputBit = 0;
constexpr unsigned kWaitForSyncBit = 1;
constexpr uint32_t kInitSourceMask = 0x1C;
constexpr unsigned kForcePpsBit = 6;
constexpr unsigned kPpsDelayShift = 8;
constexpr unsigned kPortATimestampShift = 24;
constexpr unsigned kPortBTimestampShift = 26;
constexpr uint32_t kWord2KeptBits = 0xF00000A0;

// Device init-source codes (word 2 AND 0x1C), indexed by the record's value.
constexpr std::array<uint32_t, 4> kInitSourceCodes{12, 8, 4, 0};

int32_t flag(uint32_t word, unsigned bit) {
    return wire::bitSet(word, bit) ? 1 : 0;
}

uint32_t bitIf(int32_t value, unsigned bit) {
    return value != 0 ? (1u << bit) : 0;
}

int32_t initSourceFromCode(uint32_t code) {
    for (size_t source = 0; source < kInitSourceCodes.size(); ++source) {
        if (kInitSourceCodes[source] == code && code != 0) return static_cast<int32_t>(source);
    }
    return 3;  // 0 and the unknown code 0x1C mean "do not initialise"
}

int32_t timestampPointFromCode(uint32_t code) {
    return code == 1 || code == 2 ? code : 0;
}

uint32_t timestampPointCode(int32_t value) {
    return value == 1 || value == 2 ? value : 0;
}

// Port A bit of each ports speed field, in record order; port B is 8 higher.
struct AdvertisementBits {
    int32_t NettlebeamApiPortSpeed::*field;
    uint32_t mask;
};

constexpr std::array<AdvertisementBits, 10> kAdvertisement{{
    {&NettlebeamApiPortSpeed::autoNegotiation, 1u << 6},
    {&NettlebeamApiPortSpeed::fullDuplex1000, (1u << 4) | (1u << 5)},
    {&NettlebeamApiPortSpeed::fullDuplex100, 1u << 3},
    {&NettlebeamApiPortSpeed::halfDuplex100, 1u << 2},
    {&NettlebeamApiPortSpeed::fullDuplex10, 1u << 1},
    {&NettlebeamApiPortSpeed::halfDuplex10, 1u << 0},
    {&NettlebeamApiPortSpeed::asymmetricPause, 1u << 17},
    {&NettlebeamApiPortSpeed::symmetricPause, 1u << 16},
    {&NettlebeamApiPortSpeed::master, 1u << 19},
    {&NettlebeamApiPortSpeed::forceMasterSlave, 1u << 18},
}};

constexpr std::array<unsigned, 2> kPortShift{0, 8};

}  // namespace

std::optional<ConfigBlock> parseConfigBlock(std::span<const uint8_t> bytes) {
    if (bytes.size() < kConfigBlockSize) return std::nullopt;
    ConfigBlock block;
    for (size_t i = 0; i < block.words.size(); ++i) block.words[i] = wire::readLe32(bytes, 4 * i);
    return block;
}

std::array<uint8_t, kConfigBlockSize> serializeConfigBlock(const ConfigBlock& block) {
    std::array<uint8_t, kConfigBlockSize> bytes{};
    for (size_t i = 0; i < block.words.size(); ++i) wire::writeLe32(bytes, 4 * i, block.words[i]);
    return bytes;
}

NettlebeamApiDeviceFeatures featuresFromBlock(const ConfigBlock& block) {
    const uint32_t w0 = block.words[0], w1 = block.words[1], w2 = block.words[2],
                   w4 = block.words[4];
    NettlebeamApiDeviceFeatures f{};
    f.keepCrcErrors = flag(w0, kKeepCrcErrorsBit);
    f.keepCrc32 = flag(w0, kKeepCrc32Bit);
    f.disablePortA = flag(w0, kDisablePortABit);
    f.disablePortB = flag(w0, kDisablePortBBit);
    f.packetSlicing = flag(w0, kPacketSlicingBit);
    f.inlineMode = flag(w0, kInlineModeBit);
    f.loopback = flag(w0, kLoopbackBit);
    f.timestamps = flag(w1, kTimestampsBit);
    f.syncTimestamps = flag(w0, kSyncTimestampsBit);
    f.forcePpsGeneration = flag(w2, kForcePpsBit);
    f.timestampInitSource = initSourceFromCode(w2 & kInitSourceMask);
    f.waitForSync = flag(w2, kWaitForSyncBit);
    f.ppsOutput = flag(w2, kPpsOutputBit);
    f.ppsDelay = static_cast<uint16_t>(w2 >> kPpsDelayShift);
    f.portATimestampOn = timestampPointFromCode((w2 >> kPortATimestampShift) & 3);
    f.portBTimestampOn = timestampPointFromCode((w2 >> kPortBTimestampShift) & 3);
    f.configWord0Bit25 = flag(w0, kWord0Bit25);
    f.slicingLength = static_cast<uint16_t>(w4);
    f.configWord4High = static_cast<uint8_t>((w4 >> 16) & 3);
    return f;
}

int32_t applyFeatures(ConfigBlock& block, const NettlebeamApiDeviceFeatures& f) {
    if (f.timestampInitSource < 0 || f.timestampInitSource > 3) {
        return NETTLEBEAM_STATUS_NOT_SUPPORTED;
    }
    if (f.configWord4High > 3) return NETTLEBEAM_STATUS_INVALID_VALUE;

    uint32_t& w0 = block.words[0];
    w0 = (w0 & kWord0KeptBits) | bitIf(f.keepCrcErrors, kKeepCrcErrorsBit) |
         bitIf(f.keepCrc32, kKeepCrc32Bit) | bitIf(f.syncTimestamps, kSyncTimestampsBit) |
         bitIf(f.packetSlicing, kPacketSlicingBit) | bitIf(f.inlineMode, kInlineModeBit) |
         bitIf(f.disablePortA, kDisablePortABit) | bitIf(f.disablePortB, kDisablePortBBit) |
         bitIf(f.loopback, kLoopbackBit) | bitIf(f.configWord0Bit25, kWord0Bit25);

    uint32_t& w1 = block.words[1];
    w1 = (w1 & ~(1u << kTimestampsBit)) | bitIf(f.timestamps, kTimestampsBit);

    uint32_t& w2 = block.words[2];
    w2 = (w2 & kWord2KeptBits) | bitIf(f.forcePpsGeneration, kForcePpsBit) |
         bitIf(f.waitForSync, kWaitForSyncBit) | kInitSourceCodes[f.timestampInitSource] |
         bitIf(f.ppsOutput, kPpsOutputBit) | (static_cast<uint32_t>(f.ppsDelay) << kPpsDelayShift) |
         (timestampPointCode(f.portATimestampOn) << kPortATimestampShift) |
         (timestampPointCode(f.portBTimestampOn) << kPortBTimestampShift);

    block.words[4] = f.slicingLength | (static_cast<uint32_t>(f.configWord4High) << 16);
    return NETTLEBEAM_STATUS_SUCCESS;
}

void readPortsSpeed(const ConfigBlock& block, NettlebeamApiPortsSpeed& speeds) {
    for (size_t port = 0; port < 2; ++port) {
        for (const auto& bits : kAdvertisement) {
            if ((block.words[1] & (bits.mask << kPortShift[port])) != 0) {
                speeds.ports[port].*bits.field = 1;
            }
        }
    }
}

void applyPortsSpeed(ConfigBlock& block, const NettlebeamApiPortsSpeed& speeds) {
    uint32_t word = block.words[1] & kWord1KeptBySpeeds;
    for (size_t port = 0; port < 2; ++port) {
        for (const auto& bits : kAdvertisement) {
            if (speeds.ports[port].*bits.field != 0) word |= bits.mask << kPortShift[port];
        }
    }
    block.words[1] = word;
}

}  // namespace nettlebeam::codec
