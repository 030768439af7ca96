// What nettlebeamd decodes from its admin requests and command lines: the
// encoded device settings of an attach, the encoded fault of an inject, the
// attach options, the `--traffic` profile and the replay speed.
#include <fuzzer/FuzzedDataProvider.h>

#include <stdexcept>
#include <string>
#include <variant>
#include <vector>

#include "device_options.h"
#include "fault_injection.h"
#include "fuzz_check.h"
#include "traffic/replay_source.h"
#include "traffic/traffic_profile.h"

using namespace nettlebeam::driver;
using namespace nettlebeam::traffic;

namespace {

void fuzzEncodedSettings(const std::vector<uint8_t>& bytes) {
    const auto settings = decodeDeviceSettings(bytes);
    if (!settings) return;
    // What decodes encodes back to a request that decodes the same way.
    const auto again = decodeDeviceSettings(encodeDeviceSettings(*settings));
    FUZZ_CHECK(again.has_value());
    FUZZ_CHECK(encodeDeviceSettings(*again) == encodeDeviceSettings(*settings));
}

void fuzzEncodedFault(const std::vector<uint8_t>& bytes) {
    const auto fault = decodeFault(bytes);
    if (!fault) return;
    const auto again = decodeFault(encodeFault(*fault));
    FUZZ_CHECK(again.has_value());
    FUZZ_CHECK(again->code == fault->code && again->handle == fault->handle &&
               again->action == fault->action && again->bytes == fault->bytes &&
               again->times == fault->times && again->anyHandle == fault->anyHandle);
}

void fuzzOptions(FuzzedDataProvider& input) {
    std::vector<std::string> args;
    while (args.size() < 12 && input.remaining_bytes() > 0) {
        args.push_back(input.ConsumeRandomLengthString(40));
    }
    const auto result = parseDeviceOptions(args);
    if (const auto* error = std::get_if<std::string>(&result)) FUZZ_CHECK(!error->empty());
}

void fuzzTrafficText(const std::string& text) {
    try {
        const TrafficProfile profile = parseTrafficProfile(text);
        FUZZ_CHECK(!profile.mix.empty());
        const double average = profile.averageSize();
        FUZZ_CHECK(average >= 64 && average <= 9022);
        FUZZ_CHECK(profile.rateAt(1000) >= 0);
    } catch (const std::invalid_argument& refused) {
        FUZZ_CHECK(refused.what()[0] != '\0');
    }
    try {
        const ReplaySettings settings = parseReplaySpeed({}, text);
        FUZZ_CHECK(settings.asFastAsPossible || settings.speed > 0);
    } catch (const std::invalid_argument&) {
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::vector<uint8_t> bytes(data, data + size);
    fuzzEncodedSettings(bytes);
    fuzzEncodedFault(bytes);
    fuzzTrafficText(std::string(bytes.begin(), bytes.end()));
    FuzzedDataProvider input(data, size);
    fuzzOptions(input);
    return 0;
}
