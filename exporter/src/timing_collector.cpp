// Time source, GPS lock and the PPS deviation of the last resynchronisation.
#include "collectors.h"

namespace nettlebeam::exporter {

void collectTiming(CollectContext& c) {
    if (!c.sample.timing) return;
    const NettlebeamApiTimingStatus& s = *c.sample.timing;
    c.gauge("nettlebeam_timing_source", "Time source code (0 to 5) the device clock follows.",
            c.deviceLabels(), s.timeSource);
    if (s.gpsModuleAbsent) return;
    c.gauge("nettlebeam_gps_lock", "1 when the GPS receiver has a 2D or 3D fix.", c.deviceLabels(),
            s.gpsFix > 0 ? 1 : 0);
    c.gauge("nettlebeam_gps_satellites_used", "Satellites used for the fix.", c.deviceLabels(),
            s.satellitesUsed);
    c.gauge("nettlebeam_timing_pps_offset_seconds",
            "Offset of the device clock at the last PPS resynchronisation.", c.deviceLabels(),
            s.ppsDeviation / 1e9);
}

}  // namespace nettlebeam::exporter
