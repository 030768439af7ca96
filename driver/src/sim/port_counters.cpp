#include "port_counters.h"

namespace nettlebeam::driver::sim {

void PortCounters::count(const FrameInfo& frame) {
    if (frame.port < 0 || frame.port > 1) return;
    PortCounterValues& p = ports_[frame.port];
    ++frames_;
    p.bytes += frame.length;
    if (frame.dropped) ++p.hardwareDrops;
    if (frame.collision) {
        ++p.collisions;
    } else if (frame.jabber) {
        ++p.jabbers;
    } else if (!frame.crcValid) {
        ++p.crcErrors;
    } else if (frame.length < 64) {
        ++p.under64;
    } else if (frame.length <= 1518) {
        ++p.from64To1518;
    } else {
        ++p.over1518;
    }
}

}  // namespace nettlebeam::driver::sim
