#include "firmware_updater.h"

#include <zlib.h>

#include <algorithm>

#include "byte_order.h"

namespace nettlebeam::driver::sim {

namespace {

constexpr uint8_t kCheckedMagic[4] = {'N', 'B', 'F', 'C'};
constexpr size_t kCheckedHeadSize = 16;

bool startsWith(std::span<const uint8_t> bytes, const uint8_t (&magic)[4]) {
    return bytes.size() >= 4 && std::equal(magic, magic + 4, bytes.begin());
}

}  // namespace

std::optional<uint32_t> announcedImageCrc(std::span<const uint8_t> head) {
    if (head.size() < kCheckedHeadSize || !startsWith(head, kCheckedMagic)) return std::nullopt;
    return wire::readLe32(head, 12);
}

FirmwareUpdater::Phase FirmwareUpdater::phaseAt(TimePoint now) const {
    if (phase_ == Phase::Programming && now - programmingStarted_ >= kProgrammingTime)
        return Phase::Programmed;
    return phase_;
}

bool FirmwareUpdater::begin(std::span<const uint8_t> payload, TimePoint now) {
    if (payload.size() != 4) return false;
    uint32_t length = wire::readLe32(payload, 0);
    if (length == 0 || length > kMaxImage) return false;
    // Flash that is being written cannot take a new image.
    if (phaseAt(now) == Phase::Programming) return false;
    phase_ = Phase::Receiving;
    announced_ = length;
    received_ = 0;
    head_.clear();
    runningCrc_ = static_cast<uint32_t>(crc32(0, nullptr, 0));
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
    size_t headPart =
        std::min(payload.size(), kCheckedHeadSize - std::min(head_.size(), kCheckedHeadSize));
    head_.insert(head_.end(), payload.begin(), payload.begin() + headPart);
    // Kept as the blocks come: the image itself is not held.
    auto rest = payload.subspan(headPart);
    runningCrc_ =
        static_cast<uint32_t>(crc32(runningCrc_, rest.data(), static_cast<uInt>(rest.size())));
    received_ += static_cast<uint32_t>(payload.size());
    return true;
}

bool FirmwareUpdater::finish(TimePoint now) {
    if (phase_ != Phase::Receiving) return false;
    // A short image, or one whose blocks came corrupted, repeated or out of
    // order, is abandoned: the flash keeps what it had.
    if (received_ != announced_ || !matchesAnnouncedCrc()) {
        phase_ = Phase::Idle;
        return false;
    }
    phase_ = Phase::Programming;
    programmingStarted_ = now;
    return true;
}

bool FirmwareUpdater::matchesAnnouncedCrc() const {
    if (!startsWith(head_, kCheckedMagic)) return true;
    std::optional<uint32_t> announced = announcedImageCrc(head_);
    return announced && *announced == runningCrc_;
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
