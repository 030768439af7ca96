// The command line of nettlebeam-exporter.
#pragma once

#include <netinet/in.h>

#include <chrono>
#include <optional>
#include <set>
#include <string>
#include <vector>

namespace nettlebeam::exporter {

// Not in the list of ports the common exporters use.
constexpr unsigned kDefaultPort = 9839;

struct Options {
    sockaddr_storage listen{};
    std::string listenText;
    std::set<std::string> devices;  // lower-case MAC addresses; empty for all
    std::chrono::milliseconds scrapeTimeout{5000};
    bool help = false;
};

// "127.0.0.1:9839", "[::1]:9839", ":9839" (every address), "0.0.0.0:9839".
std::optional<sockaddr_storage> parseListen(const std::string& text);
// "all" or MAC addresses joined by commas, any case, ':' or '-' between bytes.
std::optional<std::set<std::string>> parseDevices(const std::string& text);
// Parses argv; on a mistake returns the message for standard error.
std::optional<Options> parseOptions(const std::vector<std::string>& args, std::string& error);
const char* usageText();

}  // namespace nettlebeam::exporter
