// Helpers shared by the traffic tests: temporary folders, tshark and
// capinfos runs, and little-endian values put into device blocks.
#pragma once

#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

namespace nettlebeam::traffic::testing {

class TempFolder {
  public:
    explicit TempFolder(const char* under = "/tmp") {
        std::string pattern = std::string(under) + "/nettlebeam-traffic-XXXXXX";
        path_ = mkdtemp(pattern.data());
    }
    ~TempFolder() { std::filesystem::remove_all(path_); }
    const std::string& path() const { return path_; }
    std::vector<std::string> files() const {
        std::vector<std::string> out;
        for (const auto& entry : std::filesystem::directory_iterator(path_))
            out.push_back(entry.path().string());
        std::sort(out.begin(), out.end());
        return out;
    }

  private:
    std::string path_;
};

struct Output {
    int status = -1;
    std::string text;
};

// Runs a shell command; standard error is discarded.
inline Output runShell(const std::string& command) {
    Output out;
    FILE* pipe = popen((command + " 2>/dev/null").c_str(), "r");
    if (pipe == nullptr) return out;
    char buffer[4096];
    size_t n;
    while ((n = fread(buffer, 1, sizeof buffer, pipe)) > 0) out.text.append(buffer, n);
    const int status = pclose(pipe);
    out.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return out;
}

// Frames tshark reads from `file` that match `filter` (a display filter, or
// "" for all); -1 when tshark fails on the file.
inline long tsharkCount(const std::string& file, const std::string& filter = "") {
    std::string command = "tshark -n -r '" + file + "' -T fields -e frame.number";
    if (!filter.empty()) command += " -Y '" + filter + "'";
    const Output out = runShell(command);
    if (out.status != 0) return -1;
    return static_cast<long>(std::count(out.text.begin(), out.text.end(), '\n'));
}

// capinfos' packet count of `file`; -1 when capinfos rejects it.
inline long capinfosCount(const std::string& file) {
    const Output out = runShell("capinfos -c -M '" + file + "'");
    if (out.status != 0) return -1;
    const auto at = out.text.find("Number of packets:");
    if (at == std::string::npos) return -1;
    return std::stol(out.text.substr(at + 18));
}

inline void putLe(std::vector<uint8_t>& block, size_t at, uint64_t value, size_t bytes) {
    for (size_t i = 0; i < bytes; ++i) block[at + i] = static_cast<uint8_t>(value >> (8 * i));
}

}  // namespace nettlebeam::traffic::testing
