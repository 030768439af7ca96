#include "timing_report.h"

#include "json.h"
#include "text.h"

namespace beamctl {
namespace {

const char* fixName(std::int32_t fix) {
    switch (fix) {
        case 1:
            return "partial";
        case 2:
            return "full";
        default:
            return "none";
    }
}

const char* yesNo(std::int32_t flag) {
    return flag == 1 ? "yes" : "no";
}

std::string clockText(const NettlebeamApiTimingStatus& status) {
    return format("%04d-%02d-%02d %02d:%02d:%02d", status.rtcYear, status.rtcMonth, status.rtcDay,
                  status.rtcHour, status.rtcMinute, status.rtcSecond);
}

}  // namespace

const char* timeSourceName(std::int32_t source) {
    switch (source) {
        case 0:
        case 3:
            return "System clock";
        case 1:
            return "RTC";
        case 2:
            return "GPS";
        case 4:
            return "Manual";
        case 5:
            return "SNTP";
        default:
            return "unknown";
    }
}

std::string timingReport(const NettlebeamApiTimingStatus& status) {
    std::string text = format("Time source : %s\n", timeSourceName(status.timeSource));
    text += format("Device clock : %s (UTC)\n", clockText(status).c_str());
    if (status.gpsModuleAbsent == 1) return text + "GPS module : absent\n";
    text += format("GPS fix : %s\n", fixName(status.gpsFix));
    text += format("Satellites : GPS %d, GLONASS %d, used %d\n", status.gpsSatellites,
                   status.glonassSatellites, status.satellitesUsed);
    // The accuracy estimate is only meaningful with the first flag set, as
    // the window shows it.
    if (status.timingFlagA == 1) text += format("PPS accuracy : %d ns\n", status.ppsAccuracy);
    // Adding 0 turns a negative zero into 0.
    text += format("PPS deviation : %g ns\n", status.ppsDeviation + 0.0);
    text += format("TRAIM : %s, external PPS : %s, oscillator synchronised : %s\n",
                   yesNo(status.timingFlagA), yesNo(status.timingFlagB), yesNo(status.timingFlagC));
    return text;
}

std::string timingJson(const NettlebeamApiTimingStatus& status) {
    JsonObject json;
    json.add("timeSource", timeSourceName(status.timeSource))
        .add("timeSourceCode", static_cast<int>(status.timeSource))
        .add("deviceClock", clockText(status))
        .add("gpsModule", status.gpsModuleAbsent != 1)
        .add("gpsFix", fixName(status.gpsFix))
        .add("gpsSatellites", static_cast<int>(status.gpsSatellites))
        .add("glonassSatellites", static_cast<int>(status.glonassSatellites))
        .add("satellitesUsed", static_cast<int>(status.satellitesUsed));
    if (status.timingFlagA == 1) {
        json.add("ppsAccuracyNs", static_cast<int>(status.ppsAccuracy));
    } else {
        json.addNull("ppsAccuracyNs");
    }
    json.add("ppsDeviationNs", status.ppsDeviation)
        .add("traim", status.timingFlagA == 1)
        .add("externalPps", status.timingFlagB == 1)
        .add("oscillatorSynchronised", status.timingFlagC == 1);
    return json.text();
}

}  // namespace beamctl
