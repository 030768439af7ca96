#include "configuration_block.h"

#include "byte_order.h"

namespace nettlebeam::driver::sim {

namespace {

// Word 0.
constexpr uint32_t kKeepCrcErrors = 1u << 0;
constexpr uint32_t kKeepCrc32 = 1u << 1;
constexpr uint32_t kSlicing = 1u << 5;
constexpr uint32_t kInlineMode = 1u << 6;
// Word 1.
constexpr uint32_t kTimestampsInLiveCapture = 1u << 28;
// Word 4, low half.
constexpr uint32_t kSlicingLengthMask = 0xFFFF;
constexpr uint32_t kInitFromSystemTime = 12;
// Port A advertisement: autonegotiation, every copper speed, both pauses.
constexpr uint32_t kAdvertiseAll = 0x7F | (3u << 16);
constexpr uint32_t kAdvertiseUpTo100 = 0x4F | (3u << 16);
constexpr uint32_t kDefaultSlicingLength = 128;

bool validInitSource(uint32_t word2) {
    uint32_t source = word2 & 0x1C;
    return source == 0 || source == 4 || source == 8 || source == 12;
}

}  // namespace

ConfigurationBlock ConfigurationBlock::factoryDefault(const DeviceKind& kind) {
    ConfigurationBlock block;
    block.words_[0] = kInlineMode;
    uint32_t port = kind.ports == PortKind::FastEthernet ? kAdvertiseUpTo100 : kAdvertiseAll;
    block.words_[1] = port | (port << 8) | kTimestampsInLiveCapture;
    block.words_[2] = kInitFromSystemTime;
    block.words_[4] = kDefaultSlicingLength;
    return block;
}

std::optional<ConfigurationBlock> ConfigurationBlock::fromBytes(std::span<const uint8_t> bytes,
                                                                const DeviceKind& kind) {
    if (bytes.size() != kSize) return std::nullopt;
    ConfigurationBlock block;
    for (size_t i = 0; i < block.words_.size(); ++i) block.words_[i] = wire::readLe32(bytes, 4 * i);
    // The device refuses an initialisation source it does not know and a
    // firmware image it does not hold; every other bit is kept as written.
    if (!validInitSource(block.words_[2])) return std::nullopt;
    if (static_cast<int>(block.firmwareImageIndex()) >= kind.firmwareImages) return std::nullopt;
    return block;
}

std::array<uint8_t, ConfigurationBlock::kSize> ConfigurationBlock::bytes() const {
    std::array<uint8_t, kSize> out{};
    for (size_t i = 0; i < words_.size(); ++i) wire::writeLe32(out, 4 * i, words_[i]);
    return out;
}

traffic::CaptureFeatures ConfigurationBlock::captureFeatures() const {
    traffic::CaptureFeatures f;
    f.keepCrcErrors = (words_[0] & kKeepCrcErrors) != 0;
    f.keepCrc32 = (words_[0] & kKeepCrc32) != 0;
    f.slicing = (words_[0] & kSlicing) != 0;
    f.disablePortA = portDisabled(0);
    f.disablePortB = portDisabled(1);
    f.timestamps = (words_[1] & kTimestampsInLiveCapture) != 0;
    f.slicingLength = static_cast<uint16_t>(words_[4] & kSlicingLengthMask);
    return f;
}

PortAdvertisement ConfigurationBlock::advertisement(int port) const {
    uint32_t w = words_[1] >> (port == 0 ? 0 : 8);
    auto bit = [w](int n) { return ((w >> n) & 1) != 0; };
    PortAdvertisement adv;
    adv.halfDuplex10 = bit(0);
    adv.fullDuplex10 = bit(1);
    adv.halfDuplex100 = bit(2);
    adv.fullDuplex100 = bit(3);
    adv.fullDuplex1000 = bit(4) || bit(5);
    adv.autoNegotiation = bit(6);
    adv.symmetricPause = bit(16);
    adv.asymmetricPause = bit(17);
    adv.forceMasterSlave = bit(18);
    adv.master = bit(19);
    return adv;
}

}  // namespace nettlebeam::driver::sim
