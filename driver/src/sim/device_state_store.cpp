#include "device_state_store.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <sstream>

namespace nettlebeam::driver::sim {

namespace {

constexpr const char* kHeader = "nettlebeam-device-state 1";
constexpr size_t kMaxFileBytes = 64 * 1024;

std::string toHex(const std::vector<uint8_t>& bytes) {
    static const char digits[] = "0123456789abcdef";
    std::string out;
    for (uint8_t b : bytes) {
        out.push_back(digits[b >> 4]);
        out.push_back(digits[b & 15]);
    }
    return out;
}

std::optional<std::vector<uint8_t>> fromHex(const std::string& text) {
    if (text.size() % 2) return std::nullopt;
    std::vector<uint8_t> out;
    for (size_t i = 0; i < text.size(); i += 2) {
        unsigned value = 0;
        if (std::sscanf(text.substr(i, 2).c_str(), "%2x", &value) != 1 ||
            !std::isxdigit(static_cast<unsigned char>(text[i])) ||
            !std::isxdigit(static_cast<unsigned char>(text[i + 1])))
            return std::nullopt;
        out.push_back(static_cast<uint8_t>(value));
    }
    return out;
}

void report(const std::string& what) {
    std::fprintf(stderr, "nettlebeamd: %s\n", what.c_str());
}

bool parseLine(const std::string& key, const std::string& value, PersistedState& state) {
    auto bytesInto = [&](std::vector<uint8_t>& field) {
        auto bytes = fromHex(value);
        if (!bytes) return false;
        field = *bytes;
        return true;
    };
    if (key == "configuration") return bytesInto(state.configuration);
    if (key == "packet-type-filter") return bytesInto(state.packetTypeFilter);
    if (key == "dpi-filter") return bytesInto(state.dpiFilter);
    if (key == "packet-filter") return bytesInto(state.packetFilter);
    if (key == "software-firmware") {
        unsigned a, b, c, d;
        char extra;
        if (std::sscanf(value.c_str(), "%u.%u.%u.%u%c", &a, &b, &c, &d, &extra) != 4 || a > 255 ||
            b > 255 || c > 255 || d > 255)
            return false;
        state.swFirmwareVersion =
            std::array<uint8_t, 4>{static_cast<uint8_t>(a), static_cast<uint8_t>(b),
                                   static_cast<uint8_t>(c), static_cast<uint8_t>(d)};
        return true;
    }
    if (key == "hardware-firmware" || key == "hardware-id") {
        char* end = nullptr;
        errno = 0;
        unsigned long v = std::strtoul(value.c_str(), &end, 0);
        if (value.empty() || *end || errno || v > 0xFFFFFFFFul) return false;
        if (key == "hardware-id") {
            if (v > 0xFF) return false;
            state.hardwareId = static_cast<uint8_t>(v);
        } else {
            state.hwFirmwareVersion = static_cast<uint32_t>(v);
        }
        return true;
    }
    return false;
}

}  // namespace

bool DeviceStateStore::readOwnFile(std::string& content) const {
    // O_NONBLOCK: a FIFO under the name must not hold the daemon up.
    const int fd = ::open(path_.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        if (errno != ENOENT)
            report("ignoring device state file " + path_ + ": " +
                   (errno == ELOOP ? std::string("it is a symbolic link") : std::strerror(errno)));
        return false;
    }
    struct stat info {};
    std::string why;
    if (::fstat(fd, &info) != 0)
        why = std::strerror(errno);
    else if (!S_ISREG(info.st_mode))
        why = "it is not a regular file";
    else if (info.st_uid != ::geteuid())
        why = "it belongs to uid " + std::to_string(info.st_uid) + ", not to uid " +
              std::to_string(::geteuid());
    // One byte more than a file may hold tells a file that is too long.
    content.assign(kMaxFileBytes + 1, '\0');
    size_t got = 0;
    while (why.empty() && got < content.size()) {
        const ssize_t n = ::read(fd, content.data() + got, content.size() - got);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) why = std::strerror(errno);
        if (n <= 0) break;
        got += static_cast<size_t>(n);
    }
    ::close(fd);
    if (!why.empty()) {
        report("ignoring device state file " + path_ + ": " + why);
        return false;
    }
    content.resize(got);
    return true;
}

DeviceStateStore::DeviceStateStore(std::string directory, const std::array<uint8_t, 6>& mac)
    : directory_(std::move(directory)) {
    if (directory_.empty()) return;
    char name[32];
    std::snprintf(name, sizeof name, "%02x%02x%02x%02x%02x%02x.state", mac[0], mac[1], mac[2],
                  mac[3], mac[4], mac[5]);
    path_ = directory_ + "/" + name;
}

std::optional<PersistedState> DeviceStateStore::load() const {
    if (path_.empty()) return std::nullopt;
    std::string content;
    if (!readOwnFile(content)) return std::nullopt;
    std::istringstream lines(content);
    std::string line;
    PersistedState state;
    bool wellFormed =
        content.size() <= kMaxFileBytes && std::getline(lines, line) && line == kHeader;
    while (wellFormed && std::getline(lines, line)) {
        auto space = line.find(' ');
        wellFormed = space != std::string::npos &&
                     parseLine(line.substr(0, space), line.substr(space + 1), state);
    }
    if (!wellFormed) {
        report("ignoring malformed device state file " + path_);
        return std::nullopt;
    }
    return state;
}

bool DeviceStateStore::save(const PersistedState& state) const {
    if (path_.empty()) return true;
    std::ostringstream text;
    text << kHeader << "\n";
    auto bytesLine = [&](const char* key, const std::vector<uint8_t>& bytes) {
        if (!bytes.empty()) text << key << " " << toHex(bytes) << "\n";
    };
    bytesLine("configuration", state.configuration);
    bytesLine("packet-type-filter", state.packetTypeFilter);
    bytesLine("dpi-filter", state.dpiFilter);
    bytesLine("packet-filter", state.packetFilter);
    if (state.swFirmwareVersion) {
        const auto& v = *state.swFirmwareVersion;
        text << "software-firmware " << int(v[0]) << "." << int(v[1]) << "." << int(v[2]) << "."
             << int(v[3]) << "\n";
    }
    if (state.hwFirmwareVersion) text << "hardware-firmware " << *state.hwFirmwareVersion << "\n";
    if (state.hardwareId) text << "hardware-id " << int(*state.hardwareId) << "\n";
    std::string content = text.str();

    // A new file under a name nobody can guess: nothing planted in the
    // folder is written through.
    std::string temp = path_ + ".XXXXXX";
    int fd = ::mkostemp(temp.data(), O_CLOEXEC | O_NOFOLLOW);
    if (fd < 0) {
        report("cannot write device state " + temp + ": " + std::strerror(errno));
        return false;
    }
    bool ok = ::write(fd, content.data(), content.size()) == static_cast<ssize_t>(content.size());
    ok = ::fsync(fd) == 0 && ok;
    int savedErrno = errno;
    ok = ::close(fd) == 0 && ok;
    if (ok && ::rename(temp.c_str(), path_.c_str()) == 0) return true;
    if (ok) savedErrno = errno;
    ::unlink(temp.c_str());
    report("cannot write device state " + path_ + ": " + std::strerror(savedErrno));
    return false;
}

}  // namespace nettlebeam::driver::sim
