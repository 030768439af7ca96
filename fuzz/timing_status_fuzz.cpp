// The 19-byte timing status reply, under every hardware firmware version.
#include <fuzzer/FuzzedDataProvider.h>

#include "codec/timing.h"
#include "fuzz_check.h"

using namespace nettlebeam::codec;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzedDataProvider input(data, size);
    const uint32_t hwFirmwareVersion = input.ConsumeIntegral<uint32_t>();
    const std::vector<uint8_t> reply = input.ConsumeRemainingBytes<uint8_t>();
    const auto status = decodeTimingStatus(reply, hwFirmwareVersion);
    FUZZ_CHECK(status.has_value() == (reply.size() >= kTimingStatusSize));
    if (!status) return 0;
    FUZZ_CHECK(status->gpsModuleAbsent == 0 || status->gpsModuleAbsent == 1);
    FUZZ_CHECK(status->timingFlagA <= 1 && status->timingFlagB <= 1 && status->timingFlagC <= 1);
    // The status answers the same whatever follows the 19 bytes.
    const auto exact = decodeTimingStatus(std::span<const uint8_t>(reply).first(kTimingStatusSize),
                                          hwFirmwareVersion);
    FUZZ_CHECK(exact && exact->ppsDeviation == status->ppsDeviation &&
               exact->rtcYear == status->rtcYear && exact->timeSource == status->timeSource);
    return 0;
}
