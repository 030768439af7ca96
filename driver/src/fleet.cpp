#include "fleet.h"

#include <fstream>
#include <sstream>

#include "device_backends.h"

namespace nettlebeam::driver {

namespace {

// A ten-gigabit GPS device with both cages filled, a second-generation
// gigabit GPS device and a fast-Ethernet device. Only the last runs firmware
// older than the manager's catalogue (1.1.0.0, hardware 310), software and
// hardware both, so the manager offers it one real upgrade.
// Each carries moderate traffic, a few hundred frames a second per port: the
// statistics move while the daemon stays well under 1% of a core.
const char* const kDemoFleet =
    "--type 12 --mac 00:1b:c5:0a:00:01 --hw-fw 310 --sw-fw 2.4.1.0 --traffic rate=400,mix=mixed\n"
    "--type 9 --mac 00:1b:c5:0a:00:02 --hw-fw 310 --sw-fw 1.9.3.0 --usb 2 --traffic rate=300\n"
    "--type 13 --mac 00:1b:c5:0a:00:03 --hw-fw 120 --sw-fw 1.0.2.0 --usb 2 --traffic rate=200\n";

std::vector<std::string> splitWords(const std::string& line) {
    std::istringstream stream(line);
    std::vector<std::string> words;
    for (std::string word; stream >> word;) words.push_back(word);
    return words;
}

}  // namespace

FleetResult parseFleetText(const std::string& text, const std::string& origin) {
    Fleet fleet;
    std::istringstream lines(text);
    int number = 0;
    for (std::string line; std::getline(lines, line);) {
        ++number;
        line = line.substr(0, line.find('#'));
        auto words = splitWords(line);
        if (words.empty()) continue;
        auto parsed = parseDeviceSpec(words);
        if (auto* error = std::get_if<std::string>(&parsed))
            return origin + ":" + std::to_string(number) + ": " + *error;
        fleet.push_back(std::get<DeviceSpec>(std::move(parsed)));
    }
    return fleet;
}

FleetResult loadFleet(const std::string& nameOrPath) {
    if (nameOrPath == "empty") return Fleet{};
    if (nameOrPath == "demo") return parseFleetText(kDemoFleet, "demo fleet");
    std::ifstream file(nameOrPath);
    if (!file) return "cannot read the fleet file " + nameOrPath;
    std::stringstream content;
    content << file.rdbuf();
    if (file.bad()) return "cannot read the fleet file " + nameOrPath;
    return parseFleetText(content.str(), nameOrPath);
}

}  // namespace nettlebeam::driver
