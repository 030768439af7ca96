// The changes `features set` and `features clear` make to a features record.
#pragma once

#include <NettlebeamAPI.h>

#include <cstdint>
#include <string>

namespace beamctl {

struct FeatureOptions {
    bool keepCrcErrors = false;
    bool keepCrc32 = false;
    bool disablePortA = false;
    bool disablePortB = false;
    bool slicing = false;
    int slicingLength = 0;
    bool inlineMode = false;
    bool loopback = false;
    bool timestamps = false;
    bool syncTimestamps = false;
};

// Sets the fields whose option is present; returns the warnings to print.
std::string setFeatures(NettlebeamApiDeviceFeatures& features, const FeatureOptions& options,
                        std::uint32_t capabilities);

// Clears the fields whose option is present; returns the warnings to print.
std::string clearFeatures(NettlebeamApiDeviceFeatures& features, const FeatureOptions& options,
                          std::uint32_t capabilities);

}  // namespace beamctl
