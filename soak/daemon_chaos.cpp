#include "daemon_chaos.h"

#include <dirent.h>

#include <fstream>
#include <mutex>
#include <random>
#include <sstream>
#include <stdexcept>
#include <thread>
#include <vector>

#include "request_codes.h"

namespace nettlebeam::soak {
namespace {

using Clock = std::chrono::steady_clock;
namespace code = nettlebeam::wire::code;

// Request codes worth failing: reads and writes the library's exports make.
constexpr uint32_t kFailableCodes[] = {
    code::kReadConfiguration, code::kWriteConfiguration, code::kStatisticsFormat1,
    code::kVersions,          code::kHardwareId,         code::kTimingStatus,
    code::kPortSpeedByte,     code::kTransceiverData,    code::kReadDpiFilter,
    code::kStatisticsFormat2, code::kCaptureStatus,      code::kMemoryCaptureData};

std::string readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

}  // namespace

void churnDevices(const testsupport::Daemon& daemon, Clock::time_point end, unsigned seed,
                  Checks& checks, ChaosCounts& counts, Heartbeat& heartbeat) {
    std::mt19937 random(seed);
    std::vector<int> live;
    auto attachOne = [&] {
        const int type = std::uniform_int_distribution<int>(3, 14)(random);
        // Live traffic, with CRC errors, so that captures have frames to
        // write, drop and filter; fast enough to overflow a small cache.
        const std::string traffic = "rate=" + std::to_string(1 + random() % 30) +
                                    "k,mix=mixed,crc=1,seed=" + std::to_string(random() % 1000);
        try {
            live.push_back(daemon.attach({"--type", std::to_string(type), "--traffic", traffic}));
            ++counts.attaches;
        } catch (const std::exception& e) {
            checks.fail(std::string("attach of a type ") + std::to_string(type) +
                        " device failed: " + e.what());
        }
    };
    for (int i = 0; i < 3; ++i) attachOne();
    while (Clock::now() < end) {
        heartbeat.beat();
        std::this_thread::sleep_for(std::chrono::milliseconds(200 + random() % 600));
        const bool attach = live.size() < 2 || (live.size() < 6 && random() % 2 == 0);
        if (attach) {
            attachOne();
        } else {
            const size_t index = random() % live.size();
            try {
                daemon.detach(live[index]);
                ++counts.detaches;
            } catch (const std::exception& e) {
                checks.fail(std::string("detach failed: ") + e.what());
            }
            live.erase(live.begin() + static_cast<long>(index));
        }
        if (!live.empty()) {
            const int handle = live[random() % live.size()];
            const uint32_t code = kFailableCodes[random() % std::size(kFailableCodes)];
            try {
                daemon.inject({std::to_string(handle), std::to_string(code), "--fail"});
                ++counts.faults;
            } catch (const std::exception& e) {
                checks.fail(std::string("inject failed: ") + e.what());
            }
        }
    }
}

void runBeamctl(const std::string& beamctl, const testsupport::Daemon& daemon,
                Clock::time_point end, Checks& checks, ChaosCounts& counts, Heartbeat& heartbeat) {
    const std::vector<std::vector<std::string>> commands = {
        {"list"}, {"features", "show", "-d", "0"}, {"dpi", "show"}, {"directcapture", "status"}};
    size_t next = 0;
    while (Clock::now() < end) {
        heartbeat.beat();
        std::vector<std::string> argv{beamctl};
        const auto& words = commands[next++ % commands.size()];
        argv.insert(argv.end(), words.begin(), words.end());
        const auto result =
            testsupport::runProcess(argv, std::chrono::seconds(60), {daemon.controlEnv()});
        ++counts.beamctlRuns;
        const std::string what = "beamctl " + words[0] + (words.size() > 1 ? " " + words[1] : "");
        checks.expect(!result.timedOut, what + " did not finish within 60 s");
        // 0 or a status byte; 128 + n means it died of signal n.
        checks.expect(result.exitStatus < 129 || result.exitStatus > 159,
                      what + " died with status " + std::to_string(result.exitStatus));
        checks.expect(result.err.find("Sanitizer") == std::string::npos,
                      what + " made a sanitizer report:\n" + result.err);
    }
}

uint64_t daemonResidentKb(const std::string& controlPath) {
    DIR* proc = opendir("/proc");
    if (proc == nullptr) return 0;
    uint64_t kb = 0;
    while (dirent* entry = readdir(proc)) {
        const std::string pid = entry->d_name;
        if (pid.find_first_not_of("0123456789") != std::string::npos) continue;
        std::string command = readFile("/proc/" + pid + "/cmdline");
        for (char& c : command)
            if (c == '\0') c = ' ';
        if (command.find("nettlebeamd") == std::string::npos ||
            command.find(" serve") == std::string::npos ||
            command.find(controlPath) == std::string::npos)
            continue;
        std::istringstream status(readFile("/proc/" + pid + "/status"));
        for (std::string line; std::getline(status, line);) {
            if (line.rfind("RssAnon:", 0) == 0) kb = std::stoull(line.substr(8));
        }
        break;
    }
    closedir(proc);
    return kb;
}

}  // namespace nettlebeam::soak
