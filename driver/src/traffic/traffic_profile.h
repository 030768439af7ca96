// The `--traffic` option of `nettlebeamd attach`: rate and mix of the
// generated traffic.
//
// Syntax: comma-separated KEY=VALUE items, every item optional:
//   rate=N        frames per second on each port; k and M multiply by 1000 and
//                 10^6 ("rate=20k"); "N%" is that share of the port's line rate
//                 for the mix's average size; "line" is 100%; 0 carries nothing
//   mix=NAME|LIST size mix: "imix" (64:7/576:4/1518:1, the default), "small"
//                 (64), "large" (1518), "jumbo" (9000), "mixed" (64..1518 and
//                 2% jumbo), or SIZE:WEIGHT entries joined by "/"; sizes are
//                 wire lengths with the FCS, 64 to 9022
//   crc=P         percent of frames with a CRC error (default 0.1)
//   jabber=P      percent of oversize frames with a bad CRC (default 0.02)
//   collision=P   percent of collision fragments, on half-duplex copper ports
//                 only (default 0.05)
//   ports=A|B|AB  the ports that carry traffic (default AB)
//   seed=N        seed of the frame generator (default 1)
// Example: --traffic rate=50k,mix=64:60/1518:40,crc=0.5,ports=A
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace nettlebeam::traffic {

struct SizeWeight {
    uint32_t size = 0;
    uint32_t weight = 0;
};

struct TrafficProfile {
    double framesPerSecond = 1000;  // per port, when lineRatePercent < 0
    double lineRatePercent = -1;    // >= 0: share of the line rate instead
    std::vector<SizeWeight> mix{{64, 7}, {576, 4}, {1518, 1}};
    double crcErrorPercent = 0.1;
    double jabberPercent = 0.02;
    double collisionPercent = 0.05;
    bool portA = true;
    bool portB = true;
    uint64_t seed = 1;

    double averageSize() const;
    // Frames per second on one port at the given line speed.
    double rateAt(double lineMbitPerSecond) const;
};

// Parses the option; throws std::invalid_argument with a message naming the
// offending item.
TrafficProfile parseTrafficProfile(std::string_view text);

}  // namespace nettlebeam::traffic
