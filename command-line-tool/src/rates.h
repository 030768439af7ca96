// Rates between two statistics records, as the manager computes them: the
// difference of each counter (0 when a counter went backwards after a
// restart) over the host time between the two reads.
#pragma once

#include <NettlebeamAPI.h>

#include <optional>
#include <string>
#include <vector>

namespace beamctl {

struct PortRates {
    char port = 'A';
    double framesPerSecond = 0;
    // Bytes plus 20 per frame (preamble and inter-frame gap): the line the
    // traffic took.
    double megabitsPerSecond = 0;
    double errorsPerSecond = 0;  // CRC errors, jabbers and collisions
    double dropsPerSecond = 0;   // dropped by the device
};

// Seconds between two records; nothing when no time passed.
std::optional<double> secondsBetween(const NettlebeamApiStatistics& before,
                                     const NettlebeamApiStatistics& after);

// Both ports of two format-1 records; nothing for another format, records
// of different formats, or no time between them.
std::optional<std::vector<PortRates>> portRates(const NettlebeamApiStatistics& before,
                                                const NettlebeamApiStatistics& after);

// Each programmable counter per second, for two format-2 records.
std::optional<std::vector<double>> counterRates(const NettlebeamApiStatistics& before,
                                                const NettlebeamApiStatistics& after);

// "Port A : ... frames/s ... Mbit/s ... errors/s ... drops/s link ...\n"
std::string portRatesLine(const PortRates& rates, const std::string& link);

}  // namespace beamctl
