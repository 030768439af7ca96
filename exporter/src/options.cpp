#include "options.h"

#include <arpa/inet.h>

#include <cctype>
#include <cstdlib>
#include <cstring>

namespace nettlebeam::exporter {
namespace {

std::optional<unsigned> parsePort(const std::string& text) {
    if (text.empty() || text.size() > 5) return std::nullopt;
    for (char c : text)
        if (!std::isdigit(static_cast<unsigned char>(c))) return std::nullopt;
    unsigned long port = std::strtoul(text.c_str(), nullptr, 10);
    if (port > 65535) return std::nullopt;
    return static_cast<unsigned>(port);
}

}  // namespace

std::optional<sockaddr_storage> parseListen(const std::string& text) {
    sockaddr_storage storage{};
    size_t colon = text.rfind(':');
    if (colon == std::string::npos) return std::nullopt;
    std::optional<unsigned> port = parsePort(text.substr(colon + 1));
    if (!port) return std::nullopt;
    std::string host = text.substr(0, colon);
    if (host.size() >= 2 && host.front() == '[' && host.back() == ']') {
        auto* v6 = reinterpret_cast<sockaddr_in6*>(&storage);
        v6->sin6_family = AF_INET6;
        v6->sin6_port = htons(static_cast<uint16_t>(*port));
        if (inet_pton(AF_INET6, host.substr(1, host.size() - 2).c_str(), &v6->sin6_addr) != 1)
            return std::nullopt;
        return storage;
    }
    auto* v4 = reinterpret_cast<sockaddr_in*>(&storage);
    v4->sin_family = AF_INET;
    v4->sin_port = htons(static_cast<uint16_t>(*port));
    if (host.empty()) {
        v4->sin_addr.s_addr = htonl(INADDR_ANY);
    } else if (inet_pton(AF_INET, host.c_str(), &v4->sin_addr) != 1) {
        return std::nullopt;
    }
    return storage;
}

std::optional<std::set<std::string>> parseDevices(const std::string& text) {
    std::set<std::string> devices;
    if (text == "all") return devices;
    size_t start = 0;
    while (start <= text.size()) {
        size_t comma = text.find(',', start);
        std::string item = text.substr(start, comma == std::string::npos ? comma : comma - start);
        if (item.size() != 17) return std::nullopt;
        for (size_t i = 0; i < item.size(); ++i) {
            char& c = item[i];
            if (i % 3 == 2) {
                if (c != ':' && c != '-') return std::nullopt;
                c = ':';
            } else if (!std::isxdigit(static_cast<unsigned char>(c))) {
                return std::nullopt;
            } else {
                c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
            }
        }
        devices.insert(item);
        if (comma == std::string::npos) break;
        start = comma + 1;
    }
    return devices;
}

std::optional<Options> parseOptions(const std::vector<std::string>& args, std::string& error) {
    Options options;
    options.listenText = ":" + std::to_string(kDefaultPort);
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        if (arg == "-h" || arg == "--help") {
            options.help = true;
            continue;
        }
        if (i + 1 >= args.size()) {
            error = "unknown option or missing value: " + arg;
            return std::nullopt;
        }
        const std::string& value = args[++i];
        if (arg == "--listen") {
            options.listenText = value;
        } else if (arg == "--devices") {
            auto devices = parseDevices(value);
            if (!devices) {
                error = "--devices takes all or MAC addresses joined by commas: " + value;
                return std::nullopt;
            }
            options.devices = *devices;
        } else if (arg == "--scrape-timeout") {
            char* end = nullptr;
            double seconds = std::strtod(value.c_str(), &end);
            if (value.empty() || *end != '\0' || !(seconds > 0) || seconds > 3600) {
                error = "--scrape-timeout takes seconds between 0 and 3600: " + value;
                return std::nullopt;
            }
            options.scrapeTimeout = std::chrono::milliseconds(static_cast<long>(seconds * 1000));
        } else {
            error = "unknown option: " + arg;
            return std::nullopt;
        }
    }
    auto address = parseListen(options.listenText);
    if (!address) {
        error = "--listen takes ADDRESS:PORT: " + options.listenText;
        return std::nullopt;
    }
    options.listen = *address;
    return options;
}

const char* usageText() {
    return "usage: nettlebeam-exporter [--listen ADDR:PORT] [--devices all|MAC,...]\n"
           "                           [--scrape-timeout SECONDS]\n"
           "Serves the attached Nettlebeam devices to Prometheus at /metrics.\n"
           "  --listen          address and port (default :9839, every address;\n"
           "                    127.0.0.1:9839 for this host only; port 0 picks one)\n"
           "  --devices         devices to serve (default all)\n"
           "  --scrape-timeout  longest wait for the devices per scrape (default 5)\n";
}

}  // namespace nettlebeam::exporter
