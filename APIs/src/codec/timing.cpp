#include "codec/timing.h"

#include "byte_order.h"

namespace nettlebeam::codec {
namespace {

constexpr uint8_t kNoGpsModule = 0xFE;
// 2^-32 seconds in nanoseconds.
constexpr double kFractionalSecondNs = 1e9 / 4294967296.0;
constexpr double kFiveNs = 5.0;

int32_t gpsFix(uint8_t code) {
    switch (code) {
        case 2:
            return 1;
        case 3:
            return 2;
        default:
            return 0;
    }
}

int32_t timeSource(uint8_t code) {
    switch (code) {
        case 1:
            return 0;
        case 2:
            return 5;
        case 3:
            return 2;
        case 4:
            return 1;
        case 5:
            return 4;
        default:
            return 3;
    }
}

double ppsDeviation(std::span<const uint8_t> reply, uint32_t hwFirmwareVersion) {
    const double unit =
        hwFirmwareVersion < kFiveNanosecondDeviationFirmware ? kFractionalSecondNs : kFiveNs;
    const uint16_t ahead = wire::readLe16(reply, 5);
    const uint16_t behind = wire::readLe16(reply, 7);
    return ahead != 0 ? ahead * unit : -(behind * unit);
}

}  // namespace

std::optional<NettlebeamApiTimingStatus> decodeTimingStatus(std::span<const uint8_t> reply,
                                                            uint32_t hwFirmwareVersion) {
    if (reply.size() < kTimingStatusSize) return std::nullopt;
    NettlebeamApiTimingStatus s{};
    s.gpsModuleAbsent = reply[0] == kNoGpsModule ? 1 : 0;
    s.gpsFix = gpsFix(reply[0]);
    s.satellitesUsed = reply[1];
    s.gpsSatellites = reply[2];
    s.glonassSatellites = reply[3];
    s.timingFlagA = reply[4] & 1;
    s.timingFlagB = (reply[4] >> 1) & 1;
    s.timingFlagC = (reply[4] >> 2) & 1;
    s.ppsDeviation = ppsDeviation(reply, hwFirmwareVersion);
    s.ppsAccuracy = wire::readLe16(reply, 9);
    s.timeSource = timeSource(reply[11]);
    s.rtcHour = reply[12];
    s.rtcMinute = reply[13];
    s.rtcSecond = reply[14];
    s.rtcDay = reply[15];
    s.rtcMonth = reply[16];
    s.rtcYear = wire::readLe16(reply, 17);
    return s;
}

std::optional<uint8_t> timingSourceCode(int32_t source) {
    switch (source) {
        case 2:
            return 2;
        case 4:
            return 4;
        case 5:
            return 1;
        default:
            return std::nullopt;
    }
}

std::optional<std::array<uint8_t, kTimingTimeBlockSize>> encodeTimingTime(
    const NettlebeamApiTimingTime& time) {
    const auto code = timingSourceCode(time.source);
    if (!code) return std::nullopt;
    std::array<uint8_t, kTimingTimeBlockSize> block{};
    block[0] = *code;
    wire::writeLe32(block, 1, static_cast<uint32_t>(time.timeWord1));
    wire::writeLe32(block, 5, static_cast<uint32_t>(time.timeWord2));
    return block;
}

}  // namespace nettlebeam::codec
