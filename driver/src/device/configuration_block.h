// The device's 32-byte configuration block: eight little-endian words that
// hold the capture options, the timing options and the ports' advertisement.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <span>

#include "../sim/device_catalog.h"
#include "../traffic/capture_features.h"

namespace nettlebeam::driver::sim {

// One port's link advertisement, decoded from configuration word 1.
struct PortAdvertisement {
    bool autoNegotiation = false;
    bool fullDuplex1000 = false;
    bool fullDuplex100 = false;
    bool halfDuplex100 = false;
    bool fullDuplex10 = false;
    bool halfDuplex10 = false;
    bool asymmetricPause = false;
    bool symmetricPause = false;
    bool master = false;
    bool forceMasterSlave = false;
    bool operator==(const PortAdvertisement&) const = default;
};

class ConfigurationBlock {
  public:
    static constexpr size_t kSize = 32;

    // The factory settings of a device with these ports.
    static ConfigurationBlock factoryDefault(const DeviceKind& kind);
    // Empty when the bytes are not a block this device accepts.
    static std::optional<ConfigurationBlock> fromBytes(std::span<const uint8_t> bytes,
                                                       const DeviceKind& kind);

    std::array<uint8_t, kSize> bytes() const;
    uint32_t word(size_t index) const { return words_[index]; }

    bool inlineMode() const { return (words_[0] >> 6) & 1; }
    // Span mode when off: the ports only receive, each on its own link.
    void setInlineMode(bool on) { words_[0] = (words_[0] & ~(1u << 6)) | (on ? 1u << 6 : 0); }
    bool portDisabled(int port) const { return (words_[0] >> (port == 0 ? 19 : 20)) & 1; }
    PortAdvertisement advertisement(int port) const;
    // Word 2 bits 2 to 4: 12 system time, 8 RTC, 4 GPS, 0 none.
    uint32_t timestampInitSource() const { return words_[2] & 0x1C; }
    uint32_t firmwareImageIndex() const { return (words_[4] >> 16) & 3; }
    // Words 0, 1 and 4 as the traffic engine applies them to captured frames.
    traffic::CaptureFeatures captureFeatures() const;

    bool operator==(const ConfigurationBlock&) const = default;

  private:
    std::array<uint32_t, 8> words_{};
};

}  // namespace nettlebeam::driver::sim
