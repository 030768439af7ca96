// What the kernel says about one network interface: whether it can be a
// device port, its hardware address, and its link (carrier, speed, duplex).
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <variant>

namespace nettlebeam::driver::netif {

struct InterfaceInfo {
    std::string name;
    int index = 0;
    std::array<uint8_t, 6> mac{};
};

// The interface when it can carry a device port, or one line naming it and
// why not: missing, loopback, or not Ethernet.
std::variant<InterfaceInfo, std::string> lookUpInterface(const std::string& name);

struct KernelLink {
    bool up = false;    // administratively up and with carrier
    uint32_t mbit = 0;  // 0 when the driver does not say; known also without link
    bool fullDuplex = true;
};

// A socket for the interface ioctls; closed on destruction.
class InterfaceQuery {
  public:
    InterfaceQuery();
    ~InterfaceQuery();
    InterfaceQuery(const InterfaceQuery&) = delete;
    InterfaceQuery& operator=(const InterfaceQuery&) = delete;
    // The link as the kernel reports it now; down when the interface is gone.
    KernelLink link(const std::string& name) const;

    // Link modes to ask of the interface: autonegotiation with these modes
    // advertised, or the fastest of them forced.
    struct LinkModes {
        bool autoNegotiation = true;
        bool full10 = false, half10 = false, full100 = false, half100 = false, full1000 = false;
        bool pause = false, asymmetricPause = false;
    };
    // Empty when the kernel took the modes, else its reason in one line.
    std::string setLink(const std::string& name, const LinkModes& modes) const;

  private:
    int fd_;
};

// An interface name as the kernel accepts it: 1 to 15 characters, no '/',
// ':' or white space.
bool validInterfaceName(const std::string& name);

}  // namespace nettlebeam::driver::netif
