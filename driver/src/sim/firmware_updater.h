// Receiving one firmware image: begin with its length, data blocks, finish,
// then the device programs it into flash while the progress byte rises.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "firmware_format.h"
#include "request_codes.h"
#include "sim_clock.h"

namespace nettlebeam::driver::sim {

// The versions an image announces (firmware_format.h), shared with the
// tools that check an image before they send it.
using ImageVersions = firmware_format::ImageVersions;
inline std::optional<ImageVersions> imageVersions(std::span<const uint8_t> image) {
    return firmware_format::announcedVersions(image);
}

// An image whose head is "NBFC" carries at bytes 12 to 15 the CRC-32
// (little-endian) of everything after its 16-byte head; nothing for others.
std::optional<uint32_t> announcedImageCrc(std::span<const uint8_t> head);

class FirmwareUpdater {
  public:
    static constexpr size_t kMaxBlock = wire::kMaxFirmwareBlockBytes;
    static constexpr uint32_t kMaxImage = 32u << 20;
    static constexpr auto kProgrammingTime = std::chrono::milliseconds(3000);
    static constexpr uint8_t kDone = 255;

    bool begin(std::span<const uint8_t> payload, TimePoint now);
    bool data(std::span<const uint8_t> payload);
    bool finish(TimePoint now);
    // The programming progress byte; empty when nothing was ever programmed.
    std::optional<uint8_t> progress(TimePoint now) const;
    // True once per programmed image: the device runs it from its next
    // power-on, with the versions it announces, if any.
    bool takeProgrammed(TimePoint now, std::optional<ImageVersions>& versions);

  private:
    enum class Phase { Idle, Receiving, Programming, Programmed };
    Phase phaseAt(TimePoint now) const;

    // Whether the image received matches the CRC its head announces (true
    // for an image that announces none).
    bool matchesAnnouncedCrc() const;

    Phase phase_ = Phase::Idle;
    uint32_t announced_ = 0;
    uint32_t received_ = 0;
    std::vector<uint8_t> head_;  // the first bytes, where the versions and the CRC are
    uint32_t runningCrc_ = 0;    // of the bytes received after the head
    TimePoint programmingStarted_{};
    bool taken_ = false;
};

}  // namespace nettlebeam::driver::sim
