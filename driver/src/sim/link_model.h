// The two network ports, the link partner they are cabled to, and the links
// that autonegotiation brings up between them.
#pragma once

#include <array>
#include <cstdint>
#include <functional>

#include "../device/configuration_block.h"
#include "device_catalog.h"
#include "sim_clock.h"

namespace nettlebeam::driver::sim {

enum class LinkSpeed { Down, Ten, Hundred, Gigabit, TenGigabit };

struct PortLink {
    LinkSpeed speed = LinkSpeed::Down;
    bool fullDuplex = false;
    bool autoNegotiated = false;  // the partner's abilities were exchanged
    bool master = false;          // 1000BASE-T master/slave resolution
    bool up() const { return speed != LinkSpeed::Down; }
};

// What the equipment at the far end of each cable offers.
struct LinkPartner {
    bool autoNegotiation = true;
    bool fullDuplex1000 = true;
    bool halfDuplex1000 = false;
    bool fullDuplex100 = true;
    bool halfDuplex100 = true;
    bool fullDuplex10 = true;
    bool halfDuplex10 = true;
    bool symmetricPause = true;
    bool asymmetricPause = false;
    bool nextPage = true;
};

class LinkModel {
  public:
    // Autonegotiation takes this long after power-on or a new advertisement.
    static constexpr auto kNegotiationTime = std::chrono::milliseconds(1500);

    LinkModel(PortKind ports, LinkPartner partner = {});

    void setPorts(PortKind ports) { ports_ = ports; }
    void powerOn(const ConfigurationBlock& config, TimePoint now);
    // Renegotiates when the configuration changes what the ports offer.
    void reconfigure(const ConfigurationBlock& config, TimePoint now);
    // Cages: a port without a module has no link.
    void setCagePopulated(int port, bool populated) { cagePopulated_[port] = populated; }

    // Links that are not negotiated here but reported from outside (a
    // network interface's carrier and speed): `report` is asked on every
    // follow() and the answer stands until the next one.
    void followReported(std::function<PortLink(int)> report) { report_ = std::move(report); }
    // Takes the reported links. When every link is lost the up time starts
    // again from zero, as a device's does after a cable is pulled, which is
    // what readers of the statistics take as a link event.
    void follow(TimePoint now);

    PortLink port(int index, TimePoint now) const;
    uint8_t portSpeedByte(TimePoint now) const;
    uint8_t linkStatusByte(TimePoint now) const;
    std::array<uint8_t, 20> linkDetails(TimePoint now) const;
    // Time the link (either port) has been up and down since power-on.
    uint64_t upTicks(TimePoint now) const;
    uint64_t downTicks(TimePoint now) const;

  private:
    PortLink resolve(int index) const;
    std::array<uint16_t, 5> phyWords(int index, TimePoint now) const;
    void accumulate(TimePoint now);
    bool anyUp(TimePoint now) const;

    PortKind ports_;
    LinkPartner partner_;
    ConfigurationBlock config_;
    std::array<bool, 2> cagePopulated_{true, true};
    std::function<PortLink(int)> report_;
    std::array<PortLink, 2> reported_{};
    TimePoint negotiatedAt_{};  // links are down until then
    // Up and down time are accumulated up to `accounted_`.
    TimePoint accounted_{};
    Clock::duration up_{};
    Clock::duration down_{};
};

}  // namespace nettlebeam::driver::sim
