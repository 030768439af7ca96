// Direct capture to disk.
#include "collectors.h"

namespace nettlebeam::exporter {

void collectCapture(CollectContext& c) {
    // Starts from 0 with every capture, like the bytes: the tracker passes
    // the fall on to Prometheus as a reset.
    if (c.sample.captureFramesWritten)
        c.counter("nettlebeam_capture_frames_written_total", "Frames written to capture files.",
                  c.deviceLabels(), *c.sample.captureFramesWritten);
    if (!c.sample.capture) return;
    const NettlebeamApiDiskDumpStatus& s = *c.sample.capture;
    c.gauge("nettlebeam_capture_running", "1 while a direct capture runs.", c.deviceLabels(),
            s.enabled ? 1 : 0);
    c.counter("nettlebeam_capture_files_written_total", "Capture files written.", c.deviceLabels(),
              s.filesWritten);
    c.counter("nettlebeam_capture_written_bytes_total", "Bytes written to capture files.",
              c.deviceLabels(), s.bytesWritten);
    c.counter("nettlebeam_capture_dropped_bytes_total", "Bytes dropped for lack of cache.",
              c.deviceLabels(), s.bytesDropped);
    c.gauge("nettlebeam_capture_cache_used_bytes", "Capture cache in use.", c.deviceLabels(),
            static_cast<double>(s.cacheUsed));
    c.gauge("nettlebeam_capture_cache_size_bytes", "Capture cache size.", c.deviceLabels(),
            static_cast<double>(s.maxCache));
    // The library's status code of the last capture error, 0 when none.
    c.gauge("nettlebeam_capture_error", "Status code of the last capture error; 0 none.",
            c.deviceLabels(), s.error);
}

}  // namespace nettlebeam::exporter
