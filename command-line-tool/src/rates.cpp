#include "rates.h"

#include <cstdint>

#include "text.h"

namespace beamctl {
namespace {

constexpr double kGapBytesPerFrame = 20.0;

std::uint64_t difference(std::uint64_t after, std::uint64_t before) {
    return after >= before ? after - before : 0;
}

PortRates ratesOf(char port, const NettlebeamApiPortStatistics& before,
                  const NettlebeamApiPortStatistics& after, double seconds) {
    const auto perSecond = [seconds](std::uint64_t count) {
        return static_cast<double>(count) / seconds;
    };
    const std::uint64_t frames = difference(after.totalValidPackets + after.totalInvalidPackets,
                                            before.totalValidPackets + before.totalInvalidPackets);
    const std::uint64_t bytes = difference(after.totalBytes, before.totalBytes);
    PortRates rates;
    rates.port = port;
    rates.framesPerSecond = perSecond(frames);
    rates.megabitsPerSecond =
        (static_cast<double>(bytes) + kGapBytesPerFrame * static_cast<double>(frames)) * 8.0 / 1e6 /
        seconds;
    rates.errorsPerSecond =
        perSecond(difference(after.totalInvalidPackets, before.totalInvalidPackets));
    rates.dropsPerSecond = perSecond(difference(after.hwDropped, before.hwDropped));
    return rates;
}

}  // namespace

std::optional<double> secondsBetween(const NettlebeamApiStatistics& before,
                                     const NettlebeamApiStatistics& after) {
    if (after.timestamp <= before.timestamp) return std::nullopt;
    return static_cast<double>(after.timestamp - before.timestamp) / 1000.0;
}

std::optional<std::vector<PortRates>> portRates(const NettlebeamApiStatistics& before,
                                                const NettlebeamApiStatistics& after) {
    const std::optional<double> seconds = secondsBetween(before, after);
    if (!seconds || before.version != 1 || after.version != 1) return std::nullopt;
    return std::vector<PortRates>{
        ratesOf('A', before.data.v1.portA, after.data.v1.portA, *seconds),
        ratesOf('B', before.data.v1.portB, after.data.v1.portB, *seconds)};
}

std::optional<std::vector<double>> counterRates(const NettlebeamApiStatistics& before,
                                                const NettlebeamApiStatistics& after) {
    const std::optional<double> seconds = secondsBetween(before, after);
    if (!seconds || before.version != 2 || after.version != 2) return std::nullopt;
    std::vector<double> rates;
    for (int i = 0; i < NETTLEBEAM_PROGRAMMABLE_COUNTERS; ++i) {
        rates.push_back(
            static_cast<double>(difference(after.data.v2.counters[i], before.data.v2.counters[i])) /
            *seconds);
    }
    return rates;
}

std::string portRatesLine(const PortRates& rates, const std::string& link) {
    return format(
        "Port %c : %12.1f frames/s %10.3f Mbit/s %10.1f errors/s %10.1f drops/s  link %s\n",
        rates.port, rates.framesPerSecond, rates.megabitsPerSecond, rates.errorsPerSecond,
        rates.dropsPerSecond, link.c_str());
}

}  // namespace beamctl
