#include "module_eeprom.h"

// net/if.h before the kernel's headers, which then leave its names alone.
#include <net/if.h>
// clang-format off
#include <linux/ethtool.h>
#include <linux/sockios.h>
// clang-format on
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "interface_info.h"

namespace nettlebeam::driver::netif {

namespace {

constexpr size_t kPage = 128;
constexpr size_t kDiagnosticsAt = 256;  // A2 follows A0's 256 bytes
// Both pages are all a device serves; nothing beyond A2's first half is read.
constexpr uint32_t kLongestRead = kDiagnosticsAt + kPage;
// A0 byte 92 bit 6: digital diagnostics implemented; byte 95 sums 64 to 94.
constexpr size_t kDiagnosticType = 92;
constexpr uint8_t kDiagnosticsImplemented = 0x40;
constexpr size_t kExtendedChecksum = 95;

uint8_t sum(std::span<const uint8_t> bytes) {
    unsigned total = 0;
    for (uint8_t b : bytes) total += b;
    return static_cast<uint8_t>(total);
}

// A0 as a module without diagnostics has it, so no reader looks for an A2
// page that is not served. A checksum that held still holds.
void withoutDiagnostics(std::array<uint8_t, kPage>& a0) {
    if ((a0[kDiagnosticType] & kDiagnosticsImplemented) == 0) return;
    const std::span<const uint8_t> covered(a0.data() + 64, kExtendedChecksum - 64);
    const bool checksumHeld = sum(covered) == a0[kExtendedChecksum];
    a0[kDiagnosticType] &= static_cast<uint8_t>(~kDiagnosticsImplemented);
    if (checksumHeld) a0[kExtendedChecksum] = sum(covered);
}

int ethtool(int fd, const std::string& name, void* command) {
    ifreq request{};
    std::memcpy(request.ifr_name, name.c_str(), name.size());
    request.ifr_data = static_cast<char*>(command);
    return ioctl(fd, SIOCETHTOOL, &request);
}

}  // namespace

std::optional<sim::ModulePages> modulePagesFrom(uint32_t type, uint32_t length,
                                                std::span<const uint8_t> bytes) {
    if (type != ETH_MODULE_SFF_8472 && type != ETH_MODULE_SFF_8079) return std::nullopt;
    const size_t usable = std::min<size_t>(length, bytes.size());
    if (usable < kPage) return std::nullopt;
    sim::ModulePages pages;
    std::copy_n(bytes.begin(), kPage, pages.serialId.begin());
    if (type == ETH_MODULE_SFF_8472 && usable >= kDiagnosticsAt + kPage) {
        pages.diagnostics.emplace();
        std::copy_n(bytes.begin() + kDiagnosticsAt, kPage, pages.diagnostics->begin());
    } else {
        withoutDiagnostics(pages.serialId);
    }
    return pages;
}

std::variant<ModuleEeprom, std::string> readModuleEeprom(const std::string& name) {
    if (!validInterfaceName(name)) return "'" + name + "' is not an interface name";
    const int fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return "cannot ask the kernel about interface " + name + ": " + strerror(errno);
    std::string reason;
    ModuleEeprom eeprom;
    ethtool_modinfo info{};
    info.cmd = ETHTOOL_GMODULEINFO;
    if (ethtool(fd, name, &info) != 0) {
        reason = "interface " + name + " has no module to read: " + strerror(errno);
    } else {
        eeprom.type = info.type;
        eeprom.length = info.eeprom_len;
        const uint32_t wanted = std::min(info.eeprom_len, kLongestRead);
        // The request header, then room for the bytes the kernel copies out.
        std::vector<uint8_t> buffer(sizeof(ethtool_eeprom) + wanted);
        auto* request = reinterpret_cast<ethtool_eeprom*>(buffer.data());
        request->cmd = ETHTOOL_GMODULEEEPROM;
        request->offset = 0;
        request->len = wanted;
        if (ethtool(fd, name, request) != 0) {
            reason = "interface " + name + " cannot read its module: " + strerror(errno);
        } else {
            const size_t got = std::min<size_t>(request->len, wanted);
            eeprom.bytes.assign(
                buffer.begin() + sizeof(ethtool_eeprom),
                buffer.begin() + static_cast<std::ptrdiff_t>(sizeof(ethtool_eeprom) + got));
        }
    }
    close(fd);
    if (!reason.empty()) return reason;
    return eeprom;
}

}  // namespace nettlebeam::driver::netif
