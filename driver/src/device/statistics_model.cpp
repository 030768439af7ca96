#include "statistics_model.h"

#include "byte_order.h"

namespace nettlebeam::driver::sim {

void StatisticsModel::powerOn(TimePoint now) {
    poweredOn_ = now;
    ports_.reset();
    counters_.powerOn();
    hostDrops_ = 0;
}

void StatisticsModel::countFrame(const FrameInfo& frame) {
    ports_.count(frame);
    counters_.count(frame);
}

std::vector<uint8_t> StatisticsModel::format1(TimePoint now, const LinkModel& link) const {
    std::vector<uint8_t> out(kFormat1Size, 0);
    int groups[2] = {portAFirst_ ? 0 : 1, portAFirst_ ? 1 : 0};
    for (int g = 0; g < 2; ++g) {
        const PortCounterValues& p = ports_.port(groups[g]);
        const uint64_t words[8] = {p.bytes,     p.under64, p.from64To1518, p.over1518,
                                   p.crcErrors, p.jabbers, p.collisions,   p.hardwareDrops};
        for (size_t i = 0; i < 8; ++i) wire::writeLe64(out, 8 * (8 * g + i), words[i]);
    }
    wire::writeLe64(out, 8 * 16, link.upTicks(now));
    wire::writeLe64(out, 8 * 17, link.downTicks(now));
    wire::writeLe64(out, 8 * 18, now > poweredOn_ ? toTicks(now - poweredOn_) : 0);
    wire::writeLe64(out, 8 * 19, kSignature);
    return out;
}

std::vector<uint8_t> StatisticsModel::format2() const {
    std::vector<uint8_t> out(kFormat2Size, 0);
    for (size_t i = 0; i < CounterStore::kCount; ++i)
        wire::writeLe64(out, 8 * i, counters_.value(i));
    return out;
}

std::array<uint8_t, 8> StatisticsModel::hostDropCounter() const {
    std::array<uint8_t, 8> out{};
    wire::writeLe64(out, 0, hostDrops_);
    return out;
}

std::array<uint8_t, 16> StatisticsModel::trailer(TimePoint now) const {
    std::array<uint8_t, 16> out{};
    auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(now - poweredOn_).count();
    wire::writeLe64(out, 0, ms > 0 ? static_cast<uint64_t>(ms) : 0);
    wire::writeLe64(out, 8, ports_.framesCounted());
    return out;
}

void IdleTraffic::tick(TimePoint now, const LinkModel& link, StatisticsModel& statistics) {
    auto elapsed = std::chrono::duration_cast<std::chrono::seconds>(now - poweredOn_).count();
    for (; secondsFed_ < elapsed; ++secondsFed_) {
        for (int port = 0; port < 2; ++port) {
            if (!link.port(port, now).up()) continue;
            FrameInfo arp;
            arp.port = port;
            arp.length = 64;
            arp.broadcast = true;
            statistics.countFrame(arp);
            if (secondsFed_ % 5 != 0) continue;
            FrameInfo dhcp;
            dhcp.port = port;
            dhcp.length = 346;
            dhcp.broadcast = true;
            dhcp.ipv4 = true;
            dhcp.udp = true;
            dhcp.destinationIp = {255, 255, 255, 255};
            statistics.countFrame(dhcp);
        }
    }
}

}  // namespace nettlebeam::driver::sim
