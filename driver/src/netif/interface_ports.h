// The ports of an interface device: which interfaces they are, their links
// as the kernel reports them, and their receive rings. An interface is the
// port of one device at a time; the claim ends with this object.
#pragma once

#include <array>
#include <memory>
#include <string>
#include <vector>

#include "../device_model.h"
#include "../sim/external_ports.h"
#include "interface_info.h"
#include "module_watch.h"
#include "netif_options.h"
#include "packet_ring.h"
#include "tc_redirect.h"

namespace nettlebeam::driver::netif {

class InterfacePorts final : public ExternalPorts {
  public:
    // Checks the daemon's privileges and the interfaces, and claims them for
    // the device `handle`. Throws std::runtime_error with one line naming
    // what is missing or which interface is refused.
    InterfacePorts(const NetifSettings& settings, DeviceHandle handle);
    ~InterfacePorts() override;
    InterfacePorts(const InterfacePorts&) = delete;
    InterfacePorts& operator=(const InterfacePorts&) = delete;

    std::unique_ptr<traffic::FrameSource> openFrames() override;
    sim::PortLink link(int port) override;
    std::optional<sim::ModulePages> module(int port) override;
    bool canForward() const override { return forwarding_ != nullptr; }
    void configure(bool inlineMode, std::array<bool, 2> disabled) override;
    std::string setAdvertisement(int port, const sim::PortAdvertisement& modes) override;
    std::string describe() const override;

    // The fastest speed either interface reports, in Mbit/s (0 unknown).
    uint32_t fastestMbit() const;
    const std::array<uint8_t, 6>& portAMac() const { return interfaces_[0].mac; }

  private:
    NetifSettings settings_;
    std::array<InterfaceInfo, 2> interfaces_;  // [1].name empty: no port B
    int claimed_ = 0;                          // how many of interfaces_ this object claimed
    InterfaceQuery query_;
    std::unique_ptr<InlineForwarding> forwarding_;         // inline devices only
    std::array<std::unique_ptr<ModuleWatch>, 2> modules_;  // made when first asked
    std::vector<std::weak_ptr<PacketRing>> openRings_;     // of the latest openFrames()
};

}  // namespace nettlebeam::driver::netif
