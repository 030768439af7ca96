// What the device's settings make of the frames that reach the host: which
// errored frames it keeps, which ports it listens on, slicing, FCS and
// timestamps. The device's configuration block holds them
// (ConfigurationBlock::captureFeatures); the engine applies them.
#pragma once

#include <cstdint>

namespace nettlebeam::traffic {

struct CaptureFeatures {
    bool keepCrcErrors = false;
    bool keepCrc32 = false;
    bool disablePortA = false;
    bool disablePortB = false;
    bool slicing = false;
    uint16_t slicingLength = 0;
    bool timestamps = true;
};

}  // namespace nettlebeam::traffic
