// The direct-capture status reply and the driver's capture error codes.
#include <array>
#include <cstring>

#include "codec/capture.h"
#include "fuzz_check.h"

using namespace nettlebeam::codec;

namespace {

bool isKnownCaptureStatus(int32_t status) {
    constexpr std::array<int32_t, 6> kKnown{0, -1, -6, -7, -8, -9};
    for (int32_t known : kKnown) {
        if (status == known) return true;
    }
    return false;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::span<const uint8_t> reply(data, size);
    const auto status = decodeDiskDumpStatus(reply);
    FUZZ_CHECK(status.has_value() == (size >= kCaptureStatusUsedSize));
    if (status) {
        FUZZ_CHECK(status->enabled == 0 || status->enabled == 1);
        FUZZ_CHECK(status->statusFlag == 0 || status->statusFlag == 1);
        FUZZ_CHECK(isKnownCaptureStatus(status->error));
    }
    if (size >= 8) {
        uint64_t code;
        std::memcpy(&code, data, sizeof code);
        FUZZ_CHECK(isKnownCaptureStatus(captureErrorStatus(code)));
    }
    return 0;
}
