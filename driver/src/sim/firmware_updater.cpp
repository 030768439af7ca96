#include "firmware_updater.h"

#include <algorithm>

#include "byte_order.h"

namespace nettlebeam::driver::sim {

std::optional<ImageVersions> imageVersions(std::span<const uint8_t> image) {
    constexpr uint8_t kMagic[4] = {'N', 'B', 'F', 'W'};
    if (image.size() < 12 || !std::equal(kMagic, kMagic + 4, image.begin())) return std::nullopt;
    ImageVersions v;
    std::copy(image.begin() + 4, image.begin() + 8, v.software.begin());
    v.hardware = getLe32(image, 8);
    return v;
}

FirmwareUpdater::Phase FirmwareUpdater::phaseAt(TimePoint now) const {
    if (phase_ == Phase::Programming && now - programmingStarted_ >= kProgrammingTime)
        return Phase::Programmed;
    return phase_;
}

bool FirmwareUpdater::begin(std::span<const uint8_t> payload, TimePoint now) {
    if (payload.size() != 4) return false;
    uint32_t length = getLe32(payload, 0);
    if (length == 0 || length > kMaxImage) return false;
    // Flash that is being written cannot take a new image.
    if (phaseAt(now) == Phase::Programming) return false;
    phase_ = Phase::Receiving;
    announced_ = length;
    received_ = 0;
    head_.clear();
    taken_ = false;
    return true;
}

bool FirmwareUpdater::data(std::span<const uint8_t> payload) {
    if (phase_ != Phase::Receiving || payload.empty() || payload.size() > kMaxBlock) return false;
    if (received_ + payload.size() > announced_) {
        // More data than announced: the image cannot be trusted any more.
        phase_ = Phase::Idle;
        return false;
    }
    constexpr size_t kHeadSize = 12;
    size_t headPart = std::min(payload.size(), kHeadSize - std::min(head_.size(), kHeadSize));
    head_.insert(head_.end(), payload.begin(), payload.begin() + headPart);
    received_ += static_cast<uint32_t>(payload.size());
    return true;
}

bool FirmwareUpdater::finish(TimePoint now) {
    if (phase_ != Phase::Receiving) return false;
    if (received_ != announced_) {
        phase_ = Phase::Idle;
        return false;
    }
    phase_ = Phase::Programming;
    programmingStarted_ = now;
    return true;
}

std::optional<uint8_t> FirmwareUpdater::progress(TimePoint now) const {
    switch (phaseAt(now)) {
        case Phase::Programming: {
            double fraction = std::chrono::duration<double>(now - programmingStarted_) /
                              std::chrono::duration<double>(kProgrammingTime);
            return static_cast<uint8_t>(std::clamp(fraction * 254, 0.0, 254.0));
        }
        case Phase::Programmed:
            return kDone;
        case Phase::Receiving:
            return 0;
        case Phase::Idle:
            break;
    }
    return std::nullopt;
}

bool FirmwareUpdater::takeProgrammed(TimePoint now, std::optional<ImageVersions>& versions) {
    if (phaseAt(now) != Phase::Programmed || taken_) return false;
    taken_ = true;
    versions = imageVersions(head_);
    return true;
}

}  // namespace nettlebeam::driver::sim
