// Per-port link state and the hardware counters of the per-port statistics.
#include "collectors.h"

namespace nettlebeam::exporter {
namespace {

// Bytes per second, the base unit (and node_exporter's for the same thing).
double bytesPerSecond(int32_t speed) {
    switch (speed) {
        case NETTLEBEAM_LINK_SPEED_10M:
            return 10e6 / 8;
        case NETTLEBEAM_LINK_SPEED_100M:
            return 100e6 / 8;
        case NETTLEBEAM_LINK_SPEED_1000M:
            return 1e9 / 8;
        case NETTLEBEAM_LINK_SPEED_10G:
            return 10e9 / 8;
        default:
            return 0;
    }
}

void collectLinks(CollectContext& c, const NettlebeamApiLinkStatus& link) {
    if (!link.linkValid) return;
    int ports = link.portCount < 0 ? 0 : link.portCount > 2 ? 2 : link.portCount;
    for (int port = 0; port < ports; ++port) {
        int32_t speed = link.ports[port].speed;
        bool up = speed != NETTLEBEAM_LINK_SPEED_NO_LINK;
        c.gauge("nettlebeam_port_link_up", "1 when the port has a link.", c.portLabels(port),
                up ? 1 : 0);
        // An unknown speed with a link is not reported as 0 b/s.
        if (up && speed == NETTLEBEAM_LINK_SPEED_UNKNOWN) continue;
        c.gauge("nettlebeam_port_link_speed_bytes",
                "Negotiated link speed in bytes per second; 0 without link.", c.portLabels(port),
                up ? bytesPerSecond(speed) : 0);
        c.gauge("nettlebeam_port_link_full_duplex", "1 full duplex, 0 half duplex or no link.",
                c.portLabels(port), up && !link.ports[port].halfDuplex ? 1 : 0);
    }
}

void collectPortCounters(CollectContext& c, int port, const NettlebeamApiPortStatistics& s) {
    Labels labels = c.portLabels(port);
    c.counter("nettlebeam_port_received_frames_total", "Frames received, valid and invalid.",
              labels, s.totalValidPackets + s.totalInvalidPackets);
    c.counter("nettlebeam_port_received_bytes_total", "Bytes received.", labels, s.totalBytes);
    c.counter("nettlebeam_port_crc_errors_total", "Frames received with a bad CRC.", labels,
              s.crcErrors);
    c.counter("nettlebeam_port_collisions_total", "Collisions seen on the port.", labels,
              s.collisions);
    c.counter("nettlebeam_port_jabbers_total", "Oversize frames with a bad CRC.", labels,
              s.jabbers);
    c.counter("nettlebeam_port_device_drops_total", "Frames the device dropped.", labels,
              s.hwDropped);
    // The three size classes the device counts: a family, not a histogram,
    // because the classes do not nest.
    const char* help = "Frames received by wire size class.";
    auto sized = [&](const char* size, uint64_t value) {
        Labels l = labels;
        l.emplace_back("size", size);
        c.counter("nettlebeam_port_frames_by_size_total", help, std::move(l), value);
    };
    sized("under_64", s.lessThan64);
    sized("64_to_1518", s.from64To1518);
    sized("over_1518", s.moreThan1518);
}

}  // namespace

void collectPorts(CollectContext& c) {
    if (c.sample.link) collectLinks(c, *c.sample.link);
    const auto& statistics = c.sample.statistics;
    if (!statistics) return;
    c.counter("nettlebeam_device_host_drops_total", "Frames dropped on the host side.",
              c.deviceLabels(), statistics->swDropped);
    if (statistics->version != 1) return;
    const NettlebeamApiStatisticsV1& v1 = statistics->data.v1;
    c.counter("nettlebeam_device_link_up_seconds_total", "Time any link was up since power-on.",
              c.deviceLabels(), v1.linkUpTime / 1000);
    c.counter("nettlebeam_device_link_down_seconds_total", "Time no link was up since power-on.",
              c.deviceLabels(), v1.linkDownTime / 1000);
    collectPortCounters(c, 0, v1.portA);
    collectPortCounters(c, 1, v1.portB);
}

}  // namespace nettlebeam::exporter
