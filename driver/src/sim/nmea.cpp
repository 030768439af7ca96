#include "nmea.h"

#include <algorithm>
#include <cstdio>
#include <ctime>

namespace nettlebeam::driver::sim {

namespace {

// The antenna sits at the Greenwich meridian.
constexpr const char* kLatitude = "5128.6740,N";
constexpr const char* kLongitude = "00000.0000,E";
constexpr int kSatellitesPerGsv = 4;

struct BrokenDown {
    std::tm tm{};
    int centiseconds = 0;
};

BrokenDown breakDown(std::chrono::system_clock::time_point utc) {
    BrokenDown out;
    std::time_t seconds = std::chrono::system_clock::to_time_t(utc);
    gmtime_r(&seconds, &out.tm);
    auto since = utc - std::chrono::system_clock::from_time_t(seconds);
    out.centiseconds =
        static_cast<int>(std::chrono::duration_cast<std::chrono::milliseconds>(since).count() / 10);
    return out;
}

std::string timeField(const BrokenDown& t) {
    char buf[48];
    std::snprintf(buf, sizeof buf, "%02d%02d%02d.%02d", t.tm.tm_hour, t.tm.tm_min, t.tm.tm_sec,
                  t.centiseconds);
    return buf;
}

std::string rmc(const GpsFixReport& r, const BrokenDown& t) {
    char date[40];
    std::snprintf(date, sizeof date, "%02d%02d%02d", t.tm.tm_mday, t.tm.tm_mon + 1,
                  t.tm.tm_year % 100);
    bool valid = r.fixDimensions >= 2;
    return nmeaSentence("GPRMC," + timeField(t) + (valid ? ",A," : ",V,") + kLatitude + "," +
                        kLongitude + ",0.0,0.0," + date + ",,," + (valid ? "A" : "N"));
}

std::string gga(const GpsFixReport& r, const BrokenDown& t) {
    char tail[64];
    std::snprintf(tail, sizeof tail, ",%d,%02d,%.1f,46.0,M,45.7,M,,", r.fixDimensions >= 2 ? 1 : 0,
                  r.satellitesUsed, r.satellitesUsed > 0 ? 12.0 / r.satellitesUsed : 99.9);
    return nmeaSentence("GPGGA," + timeField(t) + "," + kLatitude + "," + kLongitude + tail);
}

std::string gsv(const GpsFixReport& r) {
    int messages = (r.satellitesInView + kSatellitesPerGsv - 1) / kSatellitesPerGsv;
    if (messages == 0) return nmeaSentence("GPGSV,1,1,00");
    std::string out;
    for (int m = 0; m < messages; ++m) {
        char head[32];
        std::snprintf(head, sizeof head, "GPGSV,%d,%d,%02d", messages, m + 1, r.satellitesInView);
        std::string body = head;
        for (int s = m * kSatellitesPerGsv;
             s < std::min(r.satellitesInView, (m + 1) * kSatellitesPerGsv); ++s) {
            char sat[32];
            int prn = 2 + 3 * s;
            std::snprintf(sat, sizeof sat, ",%02d,%02d,%03d,%02d", prn, 15 + (s * 11) % 70,
                          (s * 47) % 360, s < r.satellitesUsed ? 30 + s % 15 : 0);
            body += sat;
        }
        out += nmeaSentence(body);
    }
    return out;
}

}  // namespace

std::string nmeaChecksum(std::string_view body) {
    unsigned char sum = 0;
    for (char c : body) sum ^= static_cast<unsigned char>(c);
    char buf[3];
    std::snprintf(buf, sizeof buf, "%02X", sum);
    return buf;
}

std::string nmeaSentence(std::string_view body) {
    return "$" + std::string(body) + "*" + nmeaChecksum(body) + "\r\n";
}

std::string nmeaSecond(const GpsFixReport& report) {
    BrokenDown t = breakDown(report.utc);
    return rmc(report, t) + gga(report, t) + gsv(report);
}

}  // namespace nettlebeam::driver::sim
