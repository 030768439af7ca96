#include "interface_info.h"

// net/if.h before the kernel's headers, which then leave its names alone.
#include <net/if.h>
#include <net/if_arp.h>
// clang-format off
#include <linux/ethtool.h>
#include <linux/sockios.h>
// clang-format on
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstring>

namespace nettlebeam::driver::netif {

namespace {

bool fillName(ifreq& request, const std::string& name) {
    if (!validInterfaceName(name)) return false;
    std::memset(&request, 0, sizeof request);
    std::memcpy(request.ifr_name, name.c_str(), name.size());
    return true;
}

int ethtool(int fd, const std::string& name, void* command) {
    ifreq request{};
    if (!fillName(request, name)) return -1;
    request.ifr_data = static_cast<char*>(command);
    return ioctl(fd, SIOCETHTOOL, &request);
}

// The link settings with their masks: a first call tells how many words
// the masks take, the second fills them. Null when the driver has none.
ethtool_link_settings* readSettings(int fd, const std::string& name, uint8_t* buffer, size_t size) {
    auto* settings = reinterpret_cast<ethtool_link_settings*>(buffer);
    std::memset(buffer, 0, size);
    settings->cmd = ETHTOOL_GLINKSETTINGS;
    if (ethtool(fd, name, settings) != 0 || settings->link_mode_masks_nwords >= 0) return nullptr;
    const int8_t words = static_cast<int8_t>(-settings->link_mode_masks_nwords);
    std::memset(buffer, 0, size);
    settings->cmd = ETHTOOL_GLINKSETTINGS;
    settings->link_mode_masks_nwords = words;
    return ethtool(fd, name, settings) == 0 ? settings : nullptr;
}

// Speed and duplex from the link settings; the older ETHTOOL_GSET where a
// driver lacks them.
void readSpeed(int fd, const std::string& name, KernelLink& link) {
    alignas(ethtool_link_settings) uint8_t buffer[sizeof(ethtool_link_settings) + 3 * 127 * 4]{};
    if (const ethtool_link_settings* settings = readSettings(fd, name, buffer, sizeof buffer)) {
        if (settings->speed != static_cast<uint32_t>(SPEED_UNKNOWN)) link.mbit = settings->speed;
        link.fullDuplex = settings->duplex != DUPLEX_HALF;
        return;
    }
    ethtool_cmd legacy{};
    legacy.cmd = ETHTOOL_GSET;
    if (ethtool(fd, name, &legacy) != 0) return;
    const uint32_t speed = ethtool_cmd_speed(&legacy);
    if (speed != static_cast<uint32_t>(SPEED_UNKNOWN)) link.mbit = speed;
    link.fullDuplex = legacy.duplex != DUPLEX_HALF;
}

}  // namespace

std::string InterfaceQuery::setLink(const std::string& name, const LinkModes& modes) const {
    alignas(ethtool_link_settings) uint8_t buffer[sizeof(ethtool_link_settings) + 3 * 127 * 4]{};
    ethtool_link_settings* settings = readSettings(fd_, name, buffer, sizeof buffer);
    if (settings == nullptr)
        return "cannot read the link settings of interface " + name + ": " + strerror(errno);
    const size_t words = static_cast<size_t>(settings->link_mode_masks_nwords);
    // The masks follow the settings: supported, advertising, partner.
    uint32_t* advertising = settings->link_mode_masks + words;
    std::memset(advertising, 0, words * 4);
    auto advertise = [&](unsigned bit, bool on) {
        if (on && bit / 32 < words) advertising[bit / 32] |= 1u << (bit % 32);
    };
    advertise(ETHTOOL_LINK_MODE_10baseT_Half_BIT, modes.half10);
    advertise(ETHTOOL_LINK_MODE_10baseT_Full_BIT, modes.full10);
    advertise(ETHTOOL_LINK_MODE_100baseT_Half_BIT, modes.half100);
    advertise(ETHTOOL_LINK_MODE_100baseT_Full_BIT, modes.full100);
    advertise(ETHTOOL_LINK_MODE_1000baseT_Full_BIT, modes.full1000);
    advertise(ETHTOOL_LINK_MODE_Pause_BIT, modes.pause);
    advertise(ETHTOOL_LINK_MODE_Asym_Pause_BIT, modes.asymmetricPause);
    settings->autoneg = modes.autoNegotiation ? AUTONEG_ENABLE : AUTONEG_DISABLE;
    if (!modes.autoNegotiation) {
        settings->speed = modes.full1000                   ? SPEED_1000
                          : modes.full100 || modes.half100 ? SPEED_100
                                                           : SPEED_10;
        settings->duplex = (modes.full1000 || (modes.full100 && settings->speed == SPEED_100) ||
                            (modes.full10 && settings->speed == SPEED_10))
                               ? DUPLEX_FULL
                               : DUPLEX_HALF;
    }
    settings->cmd = ETHTOOL_SLINKSETTINGS;
    if (ethtool(fd_, name, settings) != 0)
        return "interface " + name + " refused the link settings: " + strerror(errno);
    return {};
}

bool validInterfaceName(const std::string& name) {
    if (name.empty() || name.size() >= IFNAMSIZ || name == "." || name == "..") return false;
    for (unsigned char c : name)
        if (c <= ' ' || c == '/' || c == ':' || c >= 0x7F) return false;
    return true;
}

std::variant<InterfaceInfo, std::string> lookUpInterface(const std::string& name) {
    if (!validInterfaceName(name)) return "'" + name + "' is not an interface name";
    const int fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return "cannot ask the kernel about interface " + name + ": " + strerror(errno);
    InterfaceInfo info;
    info.name = name;
    ifreq request{};
    fillName(request, name);
    std::string error;
    if (ioctl(fd, SIOCGIFINDEX, &request) != 0) {
        error = "interface " + name + " does not exist";
    } else {
        info.index = request.ifr_ifindex;
        if (ioctl(fd, SIOCGIFFLAGS, &request) == 0 && (request.ifr_flags & IFF_LOOPBACK) != 0)
            error = "interface " + name + " is a loopback interface, not an Ethernet port";
        else if (ioctl(fd, SIOCGIFHWADDR, &request) != 0 ||
                 request.ifr_hwaddr.sa_family != ARPHRD_ETHER)
            error = "interface " + name + " is not an Ethernet interface";
        else
            std::memcpy(info.mac.data(), request.ifr_hwaddr.sa_data, 6);
    }
    close(fd);
    if (!error.empty()) return error;
    return info;
}

InterfaceQuery::InterfaceQuery() : fd_(socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0)) {}

InterfaceQuery::~InterfaceQuery() {
    if (fd_ >= 0) close(fd_);
}

KernelLink InterfaceQuery::link(const std::string& name) const {
    KernelLink link;
    ifreq request{};
    if (fd_ < 0 || !fillName(request, name) || ioctl(fd_, SIOCGIFFLAGS, &request) != 0) return link;
    ethtool_value carrier{};
    carrier.cmd = ETHTOOL_GLINK;
    // Without the ethtool call the running flag carries the carrier.
    const bool hasCarrier = ethtool(fd_, name, &carrier) == 0
                                ? carrier.data != 0
                                : (request.ifr_flags & IFF_RUNNING) != 0;
    link.up = (request.ifr_flags & IFF_UP) != 0 && hasCarrier;
    readSpeed(fd_, name, link);
    return link;
}

}  // namespace nettlebeam::driver::netif
