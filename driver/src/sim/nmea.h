// NMEA 0183 sentences of the GPS receiver.
#pragma once

#include <chrono>
#include <string>
#include <string_view>

namespace nettlebeam::driver::sim {

// The receiver's view of the sky at one moment.
struct GpsFixReport {
    std::chrono::system_clock::time_point utc;
    int fixDimensions = 0;  // 0 none, 2 or 3
    int satellitesUsed = 0;
    int satellitesInView = 0;
};

// The two hexadecimal digits that close a sentence: the XOR of every
// character between '$' and '*'.
std::string nmeaChecksum(std::string_view body);
// "$" body "*" checksum CR LF.
std::string nmeaSentence(std::string_view body);

// The sentences the receiver emits once per second: $GPRMC, $GPGGA and as
// many $GPGSV as the satellites in view need.
std::string nmeaSecond(const GpsFixReport& report);

}  // namespace nettlebeam::driver::sim
