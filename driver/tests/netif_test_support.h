// A network of its own for each interface-device test: network namespaces
// and veth pairs with names unique to the test run, removed when the
// fixture goes, also when the test fails or throws.
#pragma once

#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "daemon_device.h"
#include "nettlebeam_testsupport.h"
#include "request_codes.h"
#include "traffic_test_support.h"

namespace nettlebeam::netif::testing {

using testsupport::ProcessResult;
using testsupport::runProcess;

// The program found on PATH or in the administrator's folders, where `ip`
// and `sysctl` live; the name itself when found nowhere.
inline std::string programPath(const std::string& name) {
    std::string path = getenv("PATH") ? getenv("PATH") : "";
    path += ":/usr/sbin:/sbin";
    size_t at = 0;
    while (at <= path.size()) {
        const size_t end = std::min(path.find(':', at), path.size());
        const std::string candidate = path.substr(at, end - at) + "/" + name;
        if (end > at && access(candidate.c_str(), X_OK) == 0) return candidate;
        at = end + 1;
    }
    return name;
}

// Runs a program named as on a command line.
inline ProcessResult run(std::vector<std::string> argv,
                         std::chrono::milliseconds timeout = std::chrono::seconds(60)) {
    argv[0] = programPath(argv[0]);
    return runProcess(argv, timeout);
}

// Runs `ip` (or any program) and throws with its output when it fails.
inline std::string mustRun(const std::vector<std::string>& argv) {
    const ProcessResult result = run(argv);
    if (result.exitStatus != 0)
        throw std::runtime_error(argv[0] + " " + argv[1] + " failed: " + result.err + result.out);
    return result.out;
}

class TestNetwork {
  public:
    // `tag` tells the tests of one run apart; the process id the runs.
    explicit TestNetwork(char tag) : prefix_("nb" + std::to_string(getpid() % 100000) + tag) {}
    ~TestNetwork() {
        for (const std::string& link : links_) run({"ip", "link", "del", link});
        for (const std::string& space : namespaces_) run({"ip", "netns", "del", space});
    }
    TestNetwork(const TestNetwork&) = delete;
    TestNetwork& operator=(const TestNetwork&) = delete;

    // A namespace named after the prefix and `suffix`, with its loopback up.
    std::string addNamespace(const std::string& suffix) {
        const std::string name = prefix_ + "ns" + suffix;
        namespaces_.push_back(name);  // recorded first: removed even if half made
        mustRun({"ip", "netns", "add", name});
        mustRun({"ip", "-n", name, "link", "set", "lo", "up"});
        return name;
    }

    // A veth pair: `<prefix><suffix>` here, up, for the device, and its peer
    // `<prefix><suffix>p` in `space`, up, with `address` (CIDR) when given.
    // IPv6 is off on both ends, so the kernel sends nothing of its own.
    std::string addPort(const std::string& suffix, const std::string& space,
                        const std::string& address = "") {
        const std::string port = prefix_ + suffix;
        const std::string peer = port + "p";
        links_.push_back(port);
        mustRun({"ip", "link", "add", port, "type", "veth", "peer", "name", peer, "netns", space});
        run({"sysctl", "-qw", "net.ipv6.conf." + port + ".disable_ipv6=1"});
        run({"ip", "netns", "exec", space, "sysctl", "-qw",
             "net.ipv6.conf." + peer + ".disable_ipv6=1"});
        if (!address.empty()) mustRun({"ip", "-n", space, "addr", "add", address, "dev", peer});
        mustRun({"ip", "link", "set", port, "up"});
        mustRun({"ip", "-n", space, "link", "set", peer, "up"});
        return port;
    }

    // A tun interface here: a port that is not Ethernet.
    std::string addTun(const std::string& suffix) {
        const std::string name = prefix_ + suffix;
        links_.push_back(name);
        mustRun({"ip", "tuntap", "add", "dev", name, "mode", "tun"});
        return name;
    }

    // Runs a program inside `space`.
    static ProcessResult in(const std::string& space, std::vector<std::string> argv,
                            std::chrono::milliseconds timeout = std::chrono::seconds(60)) {
        argv.insert(argv.begin(), {"ip", "netns", "exec", space});
        return run(argv, timeout);
    }

  private:
    std::string prefix_;
    std::vector<std::string> namespaces_;
    std::vector<std::string> links_;
};

// One device of a test's daemon, addressed as the library does.
using Device = traffic::testing::DaemonDevice;

inline std::vector<uint8_t> le(uint64_t value, size_t bytes) {
    std::vector<uint8_t> out(bytes);
    traffic::testing::putLe(out, 0, value, bytes);
    return out;
}

inline bool eventually(const std::function<bool()>& condition, int tenths = 100) {
    for (int i = 0; i < tenths; ++i) {
        if (condition()) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    return condition();
}

// A direct capture of whole frames into one file named after `base`;
// false when the device refuses a setting.
inline bool configureCapture(const Device& device, const std::string& base) {
    std::vector<uint8_t> name;
    for (char c : base) name.insert(name.end(), {static_cast<uint8_t>(c), 0});
    name.insert(name.end(), {0, 0});
    namespace code = wire::code;
    return device.command(code::kCaptureLoop, {0}) &&
           device.command(code::kCaptureFileSize, le(0, 8)) &&
           device.command(code::kCaptureMaxCache, le(64 << 20, 8)) &&
           device.command(code::kCaptureFileName, name) &&
           device.command(code::kCaptureFileCount, le(0, 4)) &&
           device.command(code::kCaptureMode, le(0, 4)) &&
           device.command(code::kCaptureExtraOption, {0}) &&
           device.command(code::kCaptureFileDuration, le(0, 4)) &&
           device.command(code::kCaptureFullFrames, {0});
}

// The one file a capture named after `base` wrote in `folder`; empty when
// there is none or more than one.
inline std::string capturedFile(const std::string& folder, const std::string& base) {
    std::vector<std::string> files;
    for (const auto& e : std::filesystem::directory_iterator(folder))
        if (e.path().filename().string().rfind(base + "_00001_", 0) == 0) files.push_back(e.path());
    return files.size() == 1 ? files[0] : "";
}

}  // namespace nettlebeam::netif::testing
