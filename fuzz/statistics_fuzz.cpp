// Statistics replies of both formats, the host drop counter, the trailer and
// the programmable counter block.
#include <fuzzer/FuzzedDataProvider.h>

#include "codec/statistics.h"
#include "fuzz_check.h"

using namespace nettlebeam::codec;
using nettlebeam::fuzz::filledRecord;
using nettlebeam::fuzz::sameBytes;

namespace {

// A failed decode writes only the format version.
bool onlyVersionChanged(NettlebeamApiStatistics before, const NettlebeamApiStatistics& after) {
    before.version = after.version;
    return sameBytes(before, after);
}

void checkPort(const NettlebeamApiPortStatistics& port) {
    // Totals are sums of the counters the device reported (wrapping like them).
    FUZZ_CHECK(port.totalValidPackets == port.lessThan64 + port.from64To1518 + port.moreThan1518);
    FUZZ_CHECK(port.totalInvalidPackets == port.collisions + port.crcErrors + port.jabbers);
}

void fuzzFormat1(std::span<const uint8_t> reply, std::optional<uint8_t> portSpeedByte) {
    auto stats = filledRecord<NettlebeamApiStatistics>(0xA5);
    const auto before = stats;
    const int32_t status = decodeStatisticsFormat1(reply, portSpeedByte, stats);
    FUZZ_CHECK(stats.version == 1);
    if (reply.size() < kStatisticsFormat1Size) FUZZ_CHECK(status == NETTLEBEAM_STATUS_FAILED);
    if (status != NETTLEBEAM_STATUS_SUCCESS) {
        FUZZ_CHECK(status == NETTLEBEAM_STATUS_FAILED);
        FUZZ_CHECK(onlyVersionChanged(before, stats));
        return;
    }
    checkPort(stats.data.v1.portA);
    checkPort(stats.data.v1.portB);
    FUZZ_CHECK(storeStatisticsTrailer(reply, stats));
}

void fuzzFormat2(std::span<const uint8_t> reply) {
    auto stats = filledRecord<NettlebeamApiStatistics>(0xA5);
    const auto before = stats;
    const bool decoded = decodeStatisticsFormat2(reply, stats);
    FUZZ_CHECK(stats.version == 2);
    FUZZ_CHECK(decoded == (reply.size() >= kStatisticsFormat2Size));
    if (!decoded) FUZZ_CHECK(onlyVersionChanged(before, stats));
    const bool stored = storeStatisticsTrailer(reply, stats);
    FUZZ_CHECK(stored == (reply.size() >= NETTLEBEAM_STATISTICS_TRAILER_SIZE));
}

void fuzzTrailerOfUnknownVersion(std::span<const uint8_t> reply, int32_t version) {
    if (version == 1 || version == 2) return;
    auto stats = filledRecord<NettlebeamApiStatistics>(0x3C);
    stats.version = version;
    const auto before = stats;
    FUZZ_CHECK(!storeStatisticsTrailer(reply, stats));
    FUZZ_CHECK(sameBytes(before, stats));
}

// What the device stores is what reads back: a decoded block encodes to a
// block that decodes to the same record (pattern bytes count only where
// their mask bit is set).
void fuzzCounterBlock(std::span<const uint8_t> block) {
    const auto counter = decodeCounterBlock(block);
    FUZZ_CHECK(counter.has_value() == (block.size() >= kCounterBlockSize));
    if (!counter) return;
    const auto encoded = encodeCounterBlock(*counter);
    const auto again = decodeCounterBlock(encoded);
    FUZZ_CHECK(again.has_value());
    auto expected = *counter;
    for (size_t i = 0; i < sizeof expected.ip; ++i) {
        if (expected.ipMask[i] == 0) expected.ip[i] = again->ip[i];
    }
    FUZZ_CHECK(sameBytes(expected, *again));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzedDataProvider input(data, size);
    const uint8_t selector = input.ConsumeIntegral<uint8_t>();
    const uint8_t speedByte = input.ConsumeIntegral<uint8_t>();
    const int32_t version = input.ConsumeIntegral<int32_t>();
    const std::vector<uint8_t> reply = input.ConsumeRemainingBytes<uint8_t>();
    fuzzFormat1(reply, (selector & 1) ? std::optional<uint8_t>(speedByte) : std::nullopt);
    fuzzFormat2(reply);
    fuzzTrailerOfUnknownVersion(reply, version);
    const auto dropped = decodeHostDropped(reply);
    FUZZ_CHECK(dropped.has_value() == (reply.size() >= kHostDroppedSize));
    fuzzCounterBlock(reply);
    return 0;
}
