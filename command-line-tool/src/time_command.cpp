#include <time.h>

#include <chrono>
#include <cstdio>
#include <string>
#include <thread>
#include <variant>

#include "command_line.h"
#include "device_session.h"
#include "sntp_client.h"
#include "text.h"
#include "timing_report.h"
#include "usage.h"

namespace beamctl {
namespace {

using namespace std::chrono_literals;

// Sources of a time set, as the library takes them.
constexpr std::int32_t kSetFromGps = 2;
constexpr std::int32_t kSetFromSntp = 5;

// The device takes whole seconds and starts its second when the request
// arrives, so a server time is used only well inside its second (as the
// window does): up to ten queries, 100 ms apart, until one lands there.
constexpr int kSntpAttempts = 10;
constexpr auto kSntpPause = 100ms;
constexpr auto kSntpReplyWait = 500ms;
// Queries that fail outright (no reply, a refused reply) end the attempts
// sooner: a server that is not there should not cost ten waits.
constexpr int kSntpFailuresToGiveUp = 3;
constexpr std::uint32_t kEarliestNanoseconds = 200000000;
constexpr std::uint32_t kLatestNanoseconds = 700000000;

const char* const kSetFailed = "Failed to set Nettlebeam time\n";

bool hasTiming(const CommandLine& line, NettlebeamApiDeviceHandle handle, const char* without) {
    NettlebeamApiDeviceType type = 0;
    if (const std::int32_t status = NettlebeamAPIGetDeviceType(handle, &type); status != 0) {
        std::fputs("Failed to get device type\n", line.out);
        explainFailure(line.err, handle, status);
        return false;
    }
    if ((NettlebeamAPIGetDeviceCapabilities(type) & CapTiming) != 0) return true;
    std::fputs("Your device does not support timing\n", line.out);
    std::fprintf(line.err, "beamctl: %s\n", without);
    return false;
}

bool readTiming(const CommandLine& line, NettlebeamApiDeviceHandle handle,
                NettlebeamApiTimingStatus& status) {
    if (const std::int32_t result = NettlebeamAPIGetTimingStatus(handle, &status); result != 0) {
        std::fputs("Failed to get Nettlebeam timing status\n", line.out);
        explainFailure(line.err, handle, result);
        return false;
    }
    return true;
}

bool setTime(const CommandLine& line, NettlebeamApiDeviceHandle handle,
             NettlebeamApiTimingTime time) {
    if (const std::int32_t status = NettlebeamAPISetTimingTime(handle, time); status != 0) {
        std::fputs(kSetFailed, line.out);
        explainFailure(line.err, handle, status);
        return false;
    }
    return true;
}

int refuse(const CommandLine& line, const std::string& reason) {
    std::fputs(kSetFailed, line.out);
    std::fprintf(line.err, "beamctl: %s\n", reason.c_str());
    return kFailure;
}

// The device clock of a timing status in Unix seconds.
std::int64_t deviceSeconds(const NettlebeamApiTimingStatus& status) {
    std::tm tm{};
    tm.tm_year = status.rtcYear - 1900;
    tm.tm_mon = status.rtcMonth - 1;
    tm.tm_mday = status.rtcDay;
    tm.tm_hour = status.rtcHour;
    tm.tm_min = status.rtcMinute;
    tm.tm_sec = status.rtcSecond;
    return static_cast<std::int64_t>(timegm(&tm));
}

std::string utcText(std::int64_t unixSeconds) {
    const auto seconds = static_cast<std::time_t>(unixSeconds);
    std::tm tm{};
    gmtime_r(&seconds, &tm);
    return format("%04d-%02d-%02d %02d:%02d:%02d", tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday,
                  tm.tm_hour, tm.tm_min, tm.tm_sec);
}

// A server time inside its second, or why none came.
std::variant<SntpAnswer, std::string> sntpTimeInsideItsSecond(const SntpServer& server) {
    std::string reason;
    int failures = 0;
    for (int attempt = 0; attempt < kSntpAttempts; ++attempt) {
        if (attempt > 0) std::this_thread::sleep_for(kSntpPause);
        auto answer = querySntp(server, kSntpReplyWait);
        if (const auto* refused = std::get_if<std::string>(&answer)) {
            reason = *refused;
            if (++failures == kSntpFailuresToGiveUp) break;
            continue;
        }
        const SntpAnswer& time = std::get<SntpAnswer>(answer);
        const std::uint32_t nanoseconds = nanosecondsOf(time.transmit);
        if (nanoseconds >= kEarliestNanoseconds && nanoseconds <= kLatestNanoseconds) return time;
        reason = format("no answer in %d fell inside its second", kSntpAttempts);
    }
    return reason;
}

int setFromSntp(const CommandLine& line, NettlebeamApiDeviceHandle handle,
                const SntpServer& server) {
    const auto answer = sntpTimeInsideItsSecond(server);
    if (const auto* reason = std::get_if<std::string>(&answer)) {
        return refuse(line, "SNTP server " + server.text() + ": " + *reason);
    }
    const std::int64_t seconds = unixSecondsOf(std::get<SntpAnswer>(answer).transmit);
    // Read right after the answer, so the offset compares the same moment.
    NettlebeamApiTimingStatus before{};
    if (!readTiming(line, handle, before)) return kFailure;
    // Both words carry the seconds, as the window sends them.
    const auto word = static_cast<std::int32_t>(static_cast<std::uint32_t>(seconds));
    if (!setTime(line, handle, NettlebeamApiTimingTime{kSetFromSntp, word, word})) {
        return kFailure;
    }
    std::fprintf(line.out, "Time source : SNTP (%s)\nDevice clock : %s (UTC)\n",
                 server.text().c_str(), utcText(seconds).c_str());
    std::fprintf(line.out, "Offset applied : %+lld s\n",
                 static_cast<long long>(seconds - deviceSeconds(before)));
    return 0;
}

// The device refuses a GPS time without a fix; saying why beats its status.
int setFromGps(const CommandLine& line, NettlebeamApiDeviceHandle handle) {
    NettlebeamApiTimingStatus status{};
    if (!readTiming(line, handle, status)) return kFailure;
    if (status.gpsModuleAbsent == 1) return refuse(line, "this device has no GPS receiver");
    if (status.gpsFix == 0) {
        return refuse(line,
                      "the GPS receiver has no fix yet (`beamctl time show` gives the "
                      "reception)");
    }
    if (!setTime(line, handle, NettlebeamApiTimingTime{kSetFromGps, 0, 0})) return kFailure;
    std::fputs("Time source : GPS\n", line.out);
    return 0;
}

int showTime(const CommandLine& line, NettlebeamApiDeviceHandle handle, bool json) {
    NettlebeamApiTimingStatus status{};
    if (!readTiming(line, handle, status)) return kFailure;
    if (json) {
        std::fprintf(line.out, "%s\n", timingJson(status).c_str());
    } else {
        std::fputs(timingReport(status).c_str(), line.out);
    }
    return 0;
}

int runSet(const CommandLine& line) {
    Arguments& args = line.args;
    if (line.help || !parses(args.timeSetTable, line.argc - 2, line.argv + 2)) {
        return printUsage(line.out, "beamctl time set", args.timeSetTable);
    }
    const bool gps = present(args.gpsTime);
    const bool sntp = args.sntpServer->count > 0;
    if (gps == sntp) return refuse(line, "give one of --gps or --sntp=SERVER");
    // The server is checked before any device is asked.
    SntpServer server;
    if (sntp) {
        auto parsed = parseSntpServer(args.sntpServer->sval[0]);
        if (const auto* reason = std::get_if<std::string>(&parsed)) {
            return refuse(line, "--sntp: " + *reason);
        }
        server = std::get<SntpServer>(parsed);
    }
    const auto handle = startDeviceCommand(line, args.device);
    if (!handle) return kFailure;
    const LibrarySession session;
    if (!hasTiming(line, *handle, "this model has no clock to set")) return kFailure;
    return gps ? setFromGps(line, *handle) : setFromSntp(line, *handle, server);
}

}  // namespace

int runTime(const CommandLine& line) {
    Arguments& args = line.args;
    if (line.argc < 3 || !parses(args.timeTable, 2, line.argv + 1)) {
        return printUsage(line.out, "beamctl time", args.timeTable);
    }
    if (sameWord(line.argv[2], "set")) return runSet(line);
    if (line.help || !parses(args.deviceJsonTable, line.argc - 2, line.argv + 2)) {
        return printUsage(line.out, "beamctl time show", args.deviceJsonTable);
    }
    const bool json = present(args.json);
    const auto handle = startDeviceCommand(line, args.device, !json);
    if (!handle) return kFailure;
    const LibrarySession session;
    if (!hasTiming(line, *handle, "this model has no time source to show")) return kFailure;
    return showTime(line, *handle, json);
}

}  // namespace beamctl
