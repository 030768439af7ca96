#include "interface_ports.h"

#include <map>
#include <mutex>
#include <stdexcept>

#include "../log.h"
#include "packet_ring_source.h"
#include "privileges.h"

namespace nettlebeam::driver::netif {

namespace {

// Which device each interface is a port of, across the daemon.
std::mutex claimsMutex;
std::map<std::string, DeviceHandle> claims;

sim::LinkSpeed speedOf(uint32_t mbit) {
    if (mbit >= 10000) return sim::LinkSpeed::TenGigabit;
    if (mbit >= 1000 || mbit == 0) return sim::LinkSpeed::Gigabit;
    if (mbit >= 100) return sim::LinkSpeed::Hundred;
    return sim::LinkSpeed::Ten;
}

}  // namespace

InterfacePorts::InterfacePorts(const NetifSettings& settings, DeviceHandle handle)
    : settings_(settings) {
    if (auto missing = missingPrivilege()) throw std::runtime_error(*missing);
    const std::string* names[2] = {&settings.portA, &settings.portB};
    // Looked up again here: the interfaces may have changed since the
    // attach line was checked, and a fleet file is checked nowhere else.
    for (size_t port = 0; port < 2; ++port) {
        if (names[port]->empty()) continue;
        auto found = lookUpInterface(*names[port]);
        if (auto* error = std::get_if<std::string>(&found)) throw std::runtime_error(*error);
        interfaces_[port] = std::get<InterfaceInfo>(found);
    }
    std::lock_guard lock(claimsMutex);
    for (size_t port = 0; port < 2; ++port) {
        if (interfaces_[port].name.empty()) continue;
        auto held = claims.find(interfaces_[port].name);
        if (held != claims.end())
            throw std::runtime_error("interface " + interfaces_[port].name +
                                     " is already a port of device " +
                                     std::to_string(held->second));
    }
    if (settings.inlineMode)
        forwarding_ = std::make_unique<InlineForwarding>(
            std::array<std::string, 2>{interfaces_[0].name, interfaces_[1].name},
            std::array<int, 2>{interfaces_[0].index, interfaces_[1].index});
    for (size_t port = 0; port < 2; ++port) {
        if (interfaces_[port].name.empty()) continue;
        claims.emplace(interfaces_[port].name, handle);
        claimed_ = static_cast<int>(port) + 1;
    }
}

InterfacePorts::~InterfacePorts() {
    // The rings close with the device's traffic, in the background; the
    // interfaces must be as they were before attach once detach answers.
    for (const std::weak_ptr<PacketRing>& opened : openRings_)
        if (auto ring = opened.lock()) ring->leavePromiscuous();
    std::lock_guard lock(claimsMutex);
    for (int port = 0; port < claimed_; ++port)
        if (!interfaces_[port].name.empty()) claims.erase(interfaces_[port].name);
}

std::unique_ptr<traffic::FrameSource> InterfacePorts::openFrames() {
    std::vector<PacketRingSource::PortRing> rings;
    openRings_.clear();
    for (size_t port = 0; port < 2; ++port) {
        const InterfaceInfo& info = interfaces_[port];
        if (info.name.empty()) continue;
        rings.push_back({static_cast<traffic::Port>(port),
                         std::make_shared<PacketRing>(info.name, info.index)});
        openRings_.push_back(rings.back().ring);
    }
    return std::make_unique<PacketRingSource>(std::move(rings));
}

sim::PortLink InterfacePorts::link(int port) {
    sim::PortLink link;
    const std::string& name = interfaces_[static_cast<size_t>(port)].name;
    if (name.empty()) return link;
    const KernelLink kernel = query_.link(name);
    if (!kernel.up) return link;
    link.speed = speedOf(kernel.mbit);
    link.fullDuplex = kernel.fullDuplex;
    link.autoNegotiated = true;
    return link;
}

std::optional<sim::ModulePages> InterfacePorts::module(int port) {
    const size_t index = static_cast<size_t>(port);
    if (interfaces_[index].name.empty()) return std::nullopt;
    if (!modules_[index]) modules_[index] = std::make_unique<ModuleWatch>(interfaces_[index].name);
    return modules_[index]->current();
}

void InterfacePorts::configure(bool inlineMode, std::array<bool, 2> disabled) {
    // Only an inline attach forwards; its configuration then chooses between
    // inline (each enabled port's frames leave on the other) and span mode
    // (no redirect: both ports only receive). A passive device never has the
    // inline bit, and the traffic engine already keeps a disabled port's
    // frames from the host.
    if (!forwarding_) return;
    for (int port = 0; port < 2; ++port) {
        const std::string refused = forwarding_->forward(port, inlineMode && !disabled[port]);
        if (!refused.empty()) logLine("interface device: " + refused);
    }
}

std::string InterfacePorts::setAdvertisement(int port, const sim::PortAdvertisement& a) {
    const std::string& name = interfaces_[static_cast<size_t>(port)].name;
    if (name.empty()) return "port B has no interface";
    InterfaceQuery::LinkModes modes;
    modes.autoNegotiation = a.autoNegotiation;
    modes.full10 = a.fullDuplex10;
    modes.half10 = a.halfDuplex10;
    modes.full100 = a.fullDuplex100;
    modes.half100 = a.halfDuplex100;
    modes.full1000 = a.fullDuplex1000;
    modes.pause = a.symmetricPause;
    modes.asymmetricPause = a.asymmetricPause;
    return query_.setLink(name, modes);
}

std::string InterfacePorts::describe() const {
    std::string text = "interfaces " + interfaces_[0].name;
    if (!interfaces_[1].name.empty()) text += "," + interfaces_[1].name;
    text += settings_.inlineMode ? " inline" : " passive";
    // What comes from the interfaces, and what the device only answers as
    // the hardware would.
    text +=
        "; real: frames, links, speed, duplex, speed settings, modules; emulated: timing, "
        "firmware";
    return text;
}

uint32_t InterfacePorts::fastestMbit() const {
    uint32_t fastest = 0;
    for (const InterfaceInfo& info : interfaces_)
        if (!info.name.empty()) fastest = std::max(fastest, query_.link(info.name).mbit);
    return fastest;
}

}  // namespace nettlebeam::driver::netif
