#include "link_model.h"

#include <algorithm>

#include "byte_order.h"

namespace nettlebeam::driver::sim {

namespace {

// Speed codes of the port speed and link status bytes.
constexpr uint8_t kCode1000 = 0;
constexpr uint8_t kCodeUnknown = 1;
constexpr uint8_t kCode100 = 2;
constexpr uint8_t kCode10 = 3;

uint8_t speedCode(LinkSpeed speed) {
    switch (speed) {
        case LinkSpeed::Gigabit:
            return kCode1000;
        case LinkSpeed::Hundred:
            return kCode100;
        case LinkSpeed::Ten:
            return kCode10;
        default:
            return kCodeUnknown;
    }
}

// The four bits of one port in the port speed byte.
uint8_t portNibble(const PortLink& link) {
    if (!link.up()) return 0;
    return static_cast<uint8_t>(speedCode(link.speed) | (link.fullDuplex ? 4 : 0) | 8);
}

// The best mode both sides offer, in the order autonegotiation prefers.
PortLink bestCommonMode(const PortAdvertisement& a, const PortAdvertisement& b,
                        const LinkPartner& p, bool gigabitCapable) {
    PortLink link;
    link.autoNegotiated = true;
    if (gigabitCapable && a.fullDuplex1000 && b.fullDuplex1000 && p.fullDuplex1000) {
        link.speed = LinkSpeed::Gigabit;
        link.fullDuplex = true;
    } else if (a.fullDuplex100 && b.fullDuplex100 && p.fullDuplex100) {
        link.speed = LinkSpeed::Hundred;
        link.fullDuplex = true;
    } else if (a.halfDuplex100 && b.halfDuplex100 && p.halfDuplex100) {
        link.speed = LinkSpeed::Hundred;
    } else if (a.fullDuplex10 && b.fullDuplex10 && p.fullDuplex10) {
        link.speed = LinkSpeed::Ten;
        link.fullDuplex = true;
    } else if (a.halfDuplex10 && b.halfDuplex10 && p.halfDuplex10) {
        link.speed = LinkSpeed::Ten;
    }
    return link;
}

// Without autonegotiation a port runs the fastest mode it is set to; the
// partner follows by parallel detection, which cannot bring up 1000BASE-T.
PortLink forcedMode(const PortAdvertisement& a, bool gigabitCapable) {
    PortLink link;
    if (a.fullDuplex1000 && gigabitCapable) return link;
    if (a.fullDuplex100 || a.halfDuplex100) {
        link.speed = LinkSpeed::Hundred;
        link.fullDuplex = a.fullDuplex100;
    } else if (a.fullDuplex10 || a.halfDuplex10) {
        link.speed = LinkSpeed::Ten;
        link.fullDuplex = a.fullDuplex10;
    }
    return link;
}

}  // namespace

LinkModel::LinkModel(PortKind ports, LinkPartner partner) : ports_(ports), partner_(partner) {}

void LinkModel::powerOn(const ConfigurationBlock& config, TimePoint now) {
    config_ = config;
    accounted_ = now;
    // A reported link is already negotiated by whoever reports it.
    negotiatedAt_ = report_ ? now : now + kNegotiationTime;
    up_ = down_ = {};
    if (report_) reported_ = {report_(0), report_(1)};
}

void LinkModel::follow(TimePoint now) {
    if (!report_) return;
    const std::array<PortLink, 2> fresh{report_(0), report_(1)};
    const bool wasUp = anyUp(now);
    const bool nowUp = fresh[0].up() || fresh[1].up();
    if (wasUp != nowUp) {
        accumulate(now);  // with the links as they were until now
        if (!nowUp) up_ = {};
    }
    reported_ = fresh;
}

void LinkModel::reconfigure(const ConfigurationBlock& config, TimePoint now) {
    bool renegotiate = config.word(1) != config_.word(1) ||
                       config.inlineMode() != config_.inlineMode() ||
                       config.portDisabled(0) != config_.portDisabled(0) ||
                       config.portDisabled(1) != config_.portDisabled(1);
    if (renegotiate && !report_) {
        accumulate(now);
        negotiatedAt_ = now + kNegotiationTime;
    }
    config_ = config;
}

void LinkModel::accumulate(TimePoint now) {
    up_ = std::chrono::nanoseconds(upTicks(now) * 20);
    down_ = std::chrono::nanoseconds(downTicks(now) * 20);
    accounted_ = now;
}

PortLink LinkModel::resolve(int index) const {
    if (report_) return reported_[index];
    PortLink none;
    switch (ports_) {
        case PortKind::None:
            return none;
        case PortKind::Transceiver: {
            if (config_.portDisabled(index) || !cagePopulated_[index]) return none;
            PortLink link;
            link.speed = LinkSpeed::TenGigabit;
            link.fullDuplex = true;
            return link;
        }
        default:
            break;
    }
    bool gigabit = ports_ != PortKind::FastEthernet;
    bool shared = config_.inlineMode() || ports_ == PortKind::GigabitBasic;
    int other = shared ? 1 - index : index;
    if (config_.portDisabled(index) || config_.portDisabled(other)) return none;
    PortAdvertisement a = config_.advertisement(index);
    PortAdvertisement b = config_.advertisement(other);
    if (!a.autoNegotiation || !partner_.autoNegotiation) return forcedMode(a, gigabit);
    PortLink link = bestCommonMode(a, b, partner_, gigabit);
    // A forced master meets an autonegotiating partner, which then takes the
    // slave role; otherwise the partner wins the seed comparison.
    link.master = a.forceMasterSlave && a.master;
    return link;
}

PortLink LinkModel::port(int index, TimePoint now) const {
    if (now < negotiatedAt_) return PortLink{};
    return resolve(index);
}

bool LinkModel::anyUp(TimePoint) const {
    return resolve(0).up() || resolve(1).up();
}

uint64_t LinkModel::upTicks(TimePoint now) const {
    Clock::duration extra{};
    TimePoint since = std::max(accounted_, negotiatedAt_);
    if (anyUp(now) && now > since) extra = now - since;
    return toTicks(up_ + extra);
}

uint64_t LinkModel::downTicks(TimePoint now) const {
    Clock::duration elapsed = now > accounted_ ? now - accounted_ : Clock::duration{};
    uint64_t total = toTicks(down_ + up_ + elapsed);
    uint64_t up = upTicks(now);
    return total > up ? total - up : 0;
}

uint8_t LinkModel::portSpeedByte(TimePoint now) const {
    return static_cast<uint8_t>(portNibble(port(0, now)) | (portNibble(port(1, now)) << 4));
}

uint8_t LinkModel::linkStatusByte(TimePoint now) const {
    PortLink link = port(0, now);
    if (!link.up()) return 0;
    return static_cast<uint8_t>(speedCode(link.speed) | 4 | (link.fullDuplex ? 8 : 0));
}

std::array<uint16_t, 5> LinkModel::phyWords(int index, TimePoint now) const {
    std::array<uint16_t, 5> w{};
    PortLink link = port(index, now);
    if (!link.up()) return w;
    if (link.autoNegotiated) {
        // Link partner base page: acknowledge, pause bits, abilities, selector.
        uint16_t lp = 0x4001;
        if (partner_.asymmetricPause) lp |= 1u << 11;
        if (partner_.symmetricPause) lp |= 1u << 10;
        if (partner_.fullDuplex100) lp |= 1u << 8;
        if (partner_.halfDuplex100) lp |= 1u << 7;
        if (partner_.fullDuplex10) lp |= 1u << 6;
        if (partner_.halfDuplex10) lp |= 1u << 5;
        if (partner_.nextPage) lp |= 1u << 15;
        w[0] = lp;
        // Autonegotiation expansion: partner negotiates, next page able.
        w[1] = static_cast<uint16_t>(1u | (partner_.nextPage ? 1u << 3 : 0));
        uint16_t status = 0;
        if (partner_.fullDuplex1000) status |= 1u << 11;
        if (partner_.halfDuplex1000) status |= 1u << 10;
        if (link.speed == LinkSpeed::Gigabit) {
            status |= (1u << 13) | (1u << 12);  // local and remote receivers OK
            if (link.master) status |= 1u << 14;
        }
        w[2] = status;
    }
    // w3 and w4 are the 100BASE-TX and 1000BASE-T error registers: a clean
    // cable has no errors and an idle error count of 0.
    return w;
}

std::array<uint8_t, 20> LinkModel::linkDetails(TimePoint now) const {
    std::array<uint8_t, 20> out{};
    for (int p = 0; p < 2; ++p) {
        auto w = phyWords(p, now);
        for (size_t i = 0; i < w.size(); ++i) wire::writeLe16(out, 10 * p + 2 * i, w[i]);
    }
    return out;
}

}  // namespace nettlebeam::driver::sim
