#include "timing_model.h"

#include <algorithm>
#include <cmath>
#include <ctime>

#include "byte_order.h"
#include "nmea.h"

namespace nettlebeam::driver::sim {

namespace {

constexpr uint8_t kNoGpsModule = 0xFE;
// Time source codes of the status reply.
constexpr uint8_t kSourceNone = 0;
constexpr uint8_t kSourceSystem = 1;
constexpr uint8_t kSourceSntp = 2;
constexpr uint8_t kSourceGps = 3;
constexpr uint8_t kSourceRtc = 4;
constexpr uint8_t kSourceManual = 5;
// Source codes of the set-time block.
constexpr uint8_t kSetFromSntp = 1;
constexpr uint8_t kSetFromGps = 2;
constexpr uint8_t kSetManually = 4;
// Configuration word 2 initialisation sources.
constexpr uint32_t kInitSystem = 12;
constexpr uint32_t kInitRtc = 8;
constexpr uint32_t kInitGps = 4;

int64_t unixSecond(UtcTime t) {
    return std::chrono::duration_cast<std::chrono::seconds>(t.time_since_epoch()).count();
}

}  // namespace

TimingModel::TimingModel(bool gpsFitted, uint32_t hwFirmwareVersion)
    : gpsFitted_(gpsFitted), hwFirmwareVersion_(hwFirmwareVersion) {}

void TimingModel::powerOn(TimePoint now, UtcTime, uint32_t initSource) {
    poweredOn_ = now;
    output_.clear();
    lastEmittedSecond_.reset();
    followGps_ = false;
    switch (initSource) {
        case kInitSystem:
            deviceOffset_ = {};
            timeSourceCode_ = kSourceSystem;
            break;
        case kInitRtc:
            timeSourceCode_ = kSourceRtc;
            break;
        case kInitGps:
            timeSourceCode_ = kSourceRtc;
            followGps_ = gpsFitted_;
            break;
        default:
            timeSourceCode_ = kSourceNone;
            break;
    }
}

double TimingModel::sinceFix(TimePoint now) const {
    return secondsBetween(poweredOn_, now);
}

int TimingModel::fixDimensions(TimePoint now) const {
    if (!gpsFitted_) return 0;
    double t = sinceFix(now);
    return t >= k3dFixAfter ? 3 : t >= k2dFixAfter ? 2 : 0;
}

void TimingModel::appendOutput(const std::string& text) {
    output_ += text;
    // A full buffer loses its oldest sentences, as the receiver's FIFO does.
    while (output_.size() > kOutputCapacity) {
        size_t end = output_.find('\n');
        output_.erase(0, end == std::string::npos ? output_.size() : end + 1);
    }
}

void TimingModel::tick(TimePoint now, UtcTime utc) {
    if (!gpsFitted_) return;
    int fix = fixDimensions(now);
    if (followGps_ && fix >= 2) {
        deviceOffset_ = {};
        timeSourceCode_ = kSourceGps;
        followGps_ = false;
    }
    int64_t second = unixSecond(utc);
    if (lastEmittedSecond_ && *lastEmittedSecond_ >= second) return;
    lastEmittedSecond_ = second;
    double t = sinceFix(now);
    GpsFixReport report;
    report.utc = std::chrono::system_clock::time_point(std::chrono::seconds(second));
    report.fixDimensions = fix;
    report.satellitesInView = std::min(11, static_cast<int>(t * 1.2));
    report.satellitesUsed = fix == 3 ? std::min(report.satellitesInView, 9) : fix == 2 ? 3 : 0;
    appendOutput(nmeaSecond(report));
}

std::array<uint8_t, TimingModel::kStatusSize> TimingModel::status(TimePoint now,
                                                                  UtcTime utc) const {
    std::array<uint8_t, kStatusSize> out{};
    if (!gpsFitted_) {
        out[0] = kNoGpsModule;
    } else {
        double t = sinceFix(now);
        int fix = fixDimensions(now);
        int gps = std::min(11, static_cast<int>(t * 1.2));
        int glonass = std::min(7, static_cast<int>(t * 0.7));
        out[0] = static_cast<uint8_t>(fix == 3 ? 3 : fix == 2 ? 2 : 1);
        out[1] = static_cast<uint8_t>(fix == 3 ? std::min(gps + glonass, 12) : fix == 2 ? 3 : 0);
        out[2] = static_cast<uint8_t>(gps);
        out[3] = static_cast<uint8_t>(glonass);
        bool oscillatorSynced = fix == 3 && t >= k3dFixAfter + 10;
        out[4] = static_cast<uint8_t>((fix == 3 ? 1 : 0) | (fix >= 2 ? 2 : 0) |
                                      (oscillatorSynced ? 4 : 0));
        // The PPS deviation wanders within tens of nanoseconds once locked
        // and hundreds before.
        double deviationNs = (fix >= 2 ? 25.0 : 400.0) * std::sin(t / 7.0) + 3.0 * std::sin(t);
        double unit = hwFirmwareVersion_ < 207 ? 1e9 / 4294967296.0 : 5.0;
        auto steps =
            static_cast<uint16_t>(std::min(65535.0, std::round(std::abs(deviationNs) / unit)));
        wire::writeLe16(out, deviationNs >= 0 ? 5 : 7, steps);
        wire::writeLe16(out, 9,
                        static_cast<uint16_t>(fix == 3   ? 15 + 5 * std::sin(t / 11.0)
                                              : fix == 2 ? 60
                                                         : 0));
    }
    out[11] = timeSourceCode_;
    std::time_t seconds = std::chrono::system_clock::to_time_t(deviceTime(utc));
    std::tm tm{};
    gmtime_r(&seconds, &tm);
    out[12] = static_cast<uint8_t>(tm.tm_hour);
    out[13] = static_cast<uint8_t>(tm.tm_min);
    out[14] = static_cast<uint8_t>(tm.tm_sec);
    out[15] = static_cast<uint8_t>(tm.tm_mday);
    out[16] = static_cast<uint8_t>(tm.tm_mon + 1);
    wire::writeLe16(out, 17, static_cast<uint16_t>(tm.tm_year + 1900));
    return out;
}

bool TimingModel::setTime(std::span<const uint8_t> block, TimePoint now, UtcTime utc) {
    if (block.size() != kSetTimeSize) return false;
    uint8_t source = block[0];
    // The first word is the time in Unix seconds.
    auto seconds = std::chrono::seconds(wire::readLe32(block, 1));
    switch (source) {
        case kSetFromSntp:
        case kSetManually: {
            auto target = std::chrono::system_clock::time_point(seconds);
            // Keep the sub-second phase of the host clock: the word carries
            // whole seconds only.
            auto fraction = utc - std::chrono::time_point_cast<std::chrono::seconds>(utc);
            deviceOffset_ = target + fraction - utc;
            timeSourceCode_ = source == kSetFromSntp ? kSourceSntp : kSourceManual;
            followGps_ = false;
            return true;
        }
        case kSetFromGps:
            if (fixDimensions(now) < 2) return false;
            deviceOffset_ = {};
            timeSourceCode_ = kSourceGps;
            followGps_ = false;
            return true;
        default:
            return false;
    }
}

std::string TimingModel::readOutput(size_t capacity) {
    size_t n = std::min(capacity, output_.size());
    std::string out = output_.substr(0, n);
    output_.erase(0, n);
    return out;
}

}  // namespace nettlebeam::driver::sim
