#include "features_edit.h"

namespace beamctl {
namespace {

// Fields common to set and clear: every present flag takes `value`.
void assignFlags(NettlebeamApiDeviceFeatures& features, const FeatureOptions& options,
                 std::int32_t value) {
    if (options.keepCrcErrors) features.keepCrcErrors = value;
    if (options.keepCrc32) features.keepCrc32 = value;
    if (options.disablePortA) features.disablePortA = value;
    if (options.disablePortB) features.disablePortB = value;
    if (options.timestamps) features.timestamps = value;
    if (options.syncTimestamps) features.syncTimestamps = value;
}

}  // namespace

std::string setFeatures(NettlebeamApiDeviceFeatures& features, const FeatureOptions& options,
                        std::uint32_t capabilities) {
    std::string warnings;
    assignFlags(features, options, 1);
    if (options.slicing) {
        // The device holds a 16-bit length; larger values wrap.
        features.slicingLength = static_cast<std::uint16_t>(options.slicingLength);
        features.packetSlicing = features.slicingLength != 0 ? 1 : 0;
    }
    if (options.inlineMode) features.inlineMode = 1;
    if (options.loopback) {
        if (capabilities & CapLoopback) {
            features.loopback = 1;
        } else {
            warnings += "Warning : Your device does not support loopback mode.\n";
            features.loopback = 0;
        }
    }
    return warnings;
}

std::string clearFeatures(NettlebeamApiDeviceFeatures& features, const FeatureOptions& options,
                          std::uint32_t capabilities) {
    std::string warnings;
    assignFlags(features, options, 0);
    if (options.slicing) {
        features.packetSlicing = 0;
        features.slicingLength = 0;
    }
    if (options.inlineMode) {
        if (capabilities & CapPortSpeedSelect) {
            features.inlineMode = 0;
        } else {
            warnings += "Warning : Your device does not support span mode.\n";
            features.inlineMode = 1;
        }
    }
    if (options.loopback) features.loopback = 0;
    return warnings;
}

}  // namespace beamctl
