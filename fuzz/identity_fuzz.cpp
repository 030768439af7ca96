// Identification replies (hardware identifier, versions, extra information)
// and the configuration block with its two views.
#include <fuzzer/FuzzedDataProvider.h>

#include <algorithm>

#include "codec/features.h"
#include "codec/identity.h"
#include "fuzz_check.h"

using namespace nettlebeam::codec;
using nettlebeam::fuzz::sameBytes;

namespace {

void fuzzIdentification(int32_t transportResult, std::span<const uint8_t> reply) {
    const auto type = deviceTypeFromIdentifierReply(transportResult, reply);
    FUZZ_CHECK(type <= DeviceTypeGigabitGen4);
    if (transportResult != 1 || reply.size() < 1) FUZZ_CHECK(type == DeviceTypeNone);
    const auto tenGigabit = tenGigabitTypeFromTimingStatus(transportResult, reply);
    FUZZ_CHECK(tenGigabit == DeviceTypeTenGigabit || tenGigabit == DeviceTypeTenGigabitGps);
    const auto versions = decodeVersionReply(transportResult, reply);
    if (reply.size() < kVersionReplySize) {
        FUZZ_CHECK(sameBytes(versions, NettlebeamApiVersions{}));
    }
    const auto usbSpeed = decodeUsbSpeed(reply);
    if (reply.size() < 2) FUZZ_CHECK(!usbSpeed);
}

// Field by field: the record has padding that no decoder defines.
bool sameFeatures(const NettlebeamApiDeviceFeatures& a, const NettlebeamApiDeviceFeatures& b) {
    return a.keepCrcErrors == b.keepCrcErrors && a.keepCrc32 == b.keepCrc32 &&
           a.disablePortA == b.disablePortA && a.disablePortB == b.disablePortB &&
           a.packetSlicing == b.packetSlicing && a.inlineMode == b.inlineMode &&
           a.loopback == b.loopback && a.timestamps == b.timestamps &&
           a.syncTimestamps == b.syncTimestamps && a.forcePpsGeneration == b.forcePpsGeneration &&
           a.timestampInitSource == b.timestampInitSource && a.waitForSync == b.waitForSync &&
           a.ppsOutput == b.ppsOutput && a.ppsDelay == b.ppsDelay &&
           a.portATimestampOn == b.portATimestampOn && a.portBTimestampOn == b.portBTimestampOn &&
           a.configWord0Bit25 == b.configWord0Bit25 && a.slicingLength == b.slicingLength &&
           a.configWord4High == b.configWord4High;
}

// Reading the features or port speeds and writing them back unchanged
// leaves what the device reports unchanged.
void fuzzConfigBlock(std::span<const uint8_t> bytes) {
    const auto block = parseConfigBlock(bytes);
    FUZZ_CHECK(block.has_value() == (bytes.size() >= kConfigBlockSize));
    if (!block) return;
    const auto serialized = serializeConfigBlock(*block);
    FUZZ_CHECK(std::equal(serialized.begin(), serialized.end(), bytes.begin()));

    const auto features = featuresFromBlock(*block);
    auto rewritten = *block;
    FUZZ_CHECK(applyFeatures(rewritten, features) == NETTLEBEAM_STATUS_SUCCESS);
    FUZZ_CHECK(sameFeatures(featuresFromBlock(rewritten), features));

    NettlebeamApiPortsSpeed speeds{};
    readPortsSpeed(*block, speeds);
    auto respeeded = *block;
    applyPortsSpeed(respeeded, speeds);
    NettlebeamApiPortsSpeed again{};
    readPortsSpeed(respeeded, again);
    FUZZ_CHECK(sameBytes(speeds, again));
    // Port speeds live in word 1 only.
    for (size_t i = 0; i < block->words.size(); ++i) {
        if (i != 1) FUZZ_CHECK(respeeded.words[i] == block->words[i]);
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzedDataProvider input(data, size);
    const int32_t transportResult = input.ConsumeIntegralInRange<int32_t>(-2, 80);
    const std::vector<uint8_t> reply = input.ConsumeRemainingBytes<uint8_t>();
    fuzzIdentification(transportResult, reply);
    fuzzConfigBlock(reply);
    return 0;
}
