// Cost of the device access library over the bare control-socket round trip,
// measured in one run against a private nettlebeamd with one simulated device:
// a single-request export, and the whole status sequence the manager's worker
// runs every second. Prints one line per measurement:
//   bench <name>: <value> <unit> (<ratio>x <baseline name>)
#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <thread>
#include <vector>

#include "NettlebeamAPI.h"
#include "client.h"
#include "nettlebeam_testsupport.h"
#include "request_codes.h"

using Clock = std::chrono::steady_clock;
namespace code = nettlebeam::wire::code;

namespace {

// The machine is shared and noisy: the library and its baseline are measured
// in alternating short rounds, and each keeps its best round.
constexpr auto kRoundTime = std::chrono::milliseconds(150);
constexpr int kRounds = 12;

// Calls `body` repeatedly for about kRoundTime; the seconds per call.
double secondsPerCallOnce(const std::function<void()>& body) {
    long calls = 0;
    auto start = Clock::now();
    auto end = start;
    do {
        body();
        ++calls;
        end = Clock::now();
    } while (end - start < kRoundTime);
    return std::chrono::duration<double>(end - start).count() / static_cast<double>(calls);
}

struct Pair {
    double baseline = 1e9;
    double library = 1e9;
};

// Best seconds per call of each, from alternating rounds.
Pair compare(const std::function<void()>& baseline, const std::function<void()>& library) {
    for (int i = 0; i < 20; ++i) baseline(), library();  // warm up daemon and caches
    Pair best;
    for (int round = 0; round < kRounds; ++round) {
        best.baseline = std::min(best.baseline, secondsPerCallOnce(baseline));
        best.library = std::min(best.library, secondsPerCallOnce(library));
    }
    return best;
}

struct RawRequest {
    uint32_t code;
    uint32_t replyBytes;
};

// The requests the library sends for the status sequence of a gigabit device
// with statistics in format 1 and speed scaling.
const std::vector<RawRequest> kStatusRequests = {
    {code::kMacAddress, 6},           // MAC address
    {code::kReadConfiguration, 32},   // features: configuration block
    {code::kReadConfiguration, 32},   // ports speed: configuration block
    {code::kPortSpeedByte, 1},        // link status: port speed byte
    {code::kReadConfiguration, 32},   // link status: features
    {code::kLinkDetails, 20},         // link status: PHY details
    {code::kExtraInformation, 64},    // extra information
    {code::kStatisticsFormat1, 160},  // statistics, format 1
    {code::kPortSpeedByte, 1},        // statistics: port speed byte
    {code::kHostDropCounter, 8},      // statistics: host drops
    {code::kStatisticsTrailer, 16},   // statistics: trailer
    {code::kTimingStatus, 19},        // timing status
    {code::kCaptureStatus, 8256},     // capture status
};

int32_t rawRequest(const std::string& path, int32_t handle, uint32_t code, uint8_t* reply,
                   uint32_t capacity) {
    uint8_t input[4];
    for (int i = 0; i < 4; ++i)
        input[i] = static_cast<uint8_t>(static_cast<uint32_t>(handle) >> (8 * i));
    return nettlebeam::wire::transact(path, code, input, 4, reply, capacity);
}

void statusSequence(int32_t handle) {
    NettlebeamApiDeviceType type;
    NettlebeamAPIGetDeviceType(handle, &type);
    NettlebeamAPIGetDeviceCapabilitiesEx(handle);
    uint8_t mac[6];
    NettlebeamAPIGetDeviceMAC(handle, mac);
    NettlebeamApiVersions versions;
    NettlebeamAPIGetVersions(handle, &versions);
    NettlebeamApiDeviceFeatures features;
    NettlebeamAPIGetDeviceFeatures(handle, &features);
    NettlebeamApiPortsSpeed speeds{};
    NettlebeamAPIGetDevicePortsSpeed(handle, &speeds);
    NettlebeamApiLinkStatus link{};
    NettlebeamAPIGetLinkStatus(handle, &link);
    uint8_t usb;
    NettlebeamAPIGetDeviceExtraInfo(handle, &usb);
    NettlebeamApiStatistics stats;
    NettlebeamAPIGetStatistics(handle, &stats);
    NettlebeamApiTimingStatus timing;
    NettlebeamAPIGetTimingStatus(handle, &timing);
    NettlebeamApiDiskDumpStatus capture;
    NettlebeamAPIDiskDumpGetStatus(handle, &capture);
}

void report(const char* name, double value, const char* unit, double ratio, const char* baseline) {
    std::printf("bench %s: %.1f %s (%.3fx %s)\n", name, value, unit, ratio, baseline);
}

}  // namespace

int main() {
    nettlebeam::testsupport::Daemon daemon;
    daemon.exportControlPath();
    const std::string path = daemon.controlPath();
    int32_t handle = daemon.attach({"--type", "5"});
    if (NettlebeamAPIInitialize() != 0) return 1;
    for (int i = 0; i < 500; ++i) {
        NettlebeamApiDeviceType type;
        if (NettlebeamAPIGetDeviceType(handle, &type) == 0) break;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    uint8_t check[6];
    if (NettlebeamAPIGetDeviceMAC(handle, check) != 0) {
        std::fprintf(stderr, "bench_api: the simulated device did not answer\n");
        return 1;
    }

    std::vector<uint8_t> reply(8256);
    Pair mac = compare([&] { rawRequest(path, handle, code::kMacAddress, reply.data(), 6); },
                       [&] {
                           uint8_t bytes[6];
                           NettlebeamAPIGetDeviceMAC(handle, bytes);
                       });
    Pair sequence = compare(
        [&] {
            for (const RawRequest& request : kStatusRequests)
                rawRequest(path, handle, request.code, reply.data(), request.replyBytes);
        },
        [&] { statusSequence(handle); });
    double rawMac = mac.baseline, apiMac = mac.library;
    double rawSequence = sequence.baseline, apiSequence = sequence.library;

    // Names are single words so that runs can be compared by a script.
    report("raw_device_request", 1.0 / rawMac, "requests/s", 1.0, "itself");
    report("api_get_device_mac", 1.0 / apiMac, "requests/s", rawMac / apiMac, "raw device request");
    report("status_sequence_raw", rawSequence * 1e6, "us/sequence", 1.0, "itself");
    report("status_sequence_api", apiSequence * 1e6, "us/sequence", apiSequence / rawSequence,
           "status sequence raw");
    NettlebeamAPIUninitialize();
    return 0;
}
