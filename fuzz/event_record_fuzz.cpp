// Event records as the event wait returns them, of any length.
#include <vector>

#include "codec/events.h"
#include "fuzz_check.h"

using namespace nettlebeam::codec;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::vector<uint8_t> record(data, data + size);
    const auto event = decodeEvent(record);
    if (size < 8) FUZZ_CHECK(!event);
    if (size >= 24) FUZZ_CHECK(event.has_value());
    if (!event) return 0;
    // Names reach file paths and callbacks: bounded, and without a zero unit inside.
    FUZZ_CHECK(event->fileName.size() <= kEventFileNameMaxBytes / 2);
    FUZZ_CHECK(event->fileName.find(u'\0') == std::u16string::npos);
    if (event->kind != kEventNewCaptureFile) FUZZ_CHECK(event->fileName.empty());
    const auto value = diskDumpCallbackValue(*event);
    FUZZ_CHECK(value.enabled == 0 || value.enabled == 1);
    return 0;
}
