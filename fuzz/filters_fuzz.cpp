// Hardware filter blocks read back from a device: a decoded block, written
// back and read again, gives the same record (so reading a filter and
// setting it unchanged never alters the device's filtering).
#include <fuzzer/FuzzedDataProvider.h>

#include "codec/filters.h"
#include "fuzz_check.h"

using namespace nettlebeam::codec;
using nettlebeam::fuzz::filledRecord;
using nettlebeam::fuzz::sameBytes;

namespace {

void fuzzPacketsType(std::span<const uint8_t> reply) {
    const auto filter = decodePacketsTypeBlock(reply);
    FUZZ_CHECK(filter.has_value() == (reply.size() >= kPacketsTypeBlockSize));
    if (!filter) return;
    for (uint8_t flag : filter->flags) FUZZ_CHECK(flag <= 1);
    const auto again = decodePacketsTypeBlock(encodePacketsTypeBlock(*filter));
    FUZZ_CHECK(again && sameBytes(*filter, *again));
}

void fuzzDpi(std::span<const uint8_t> reply) {
    const auto filter = decodeDpiBlock(reply);
    FUZZ_CHECK(filter.has_value() == (reply.size() >= kDpiBlockSize));
    if (!filter) return;
    FUZZ_CHECK(filter->enabled == 0 || filter->enabled == 1);
    const auto again = decodeDpiBlock(encodeDpiBlock(*filter));
    FUZZ_CHECK(again && sameBytes(*filter, *again));
}

void fuzzPacketFilter(std::span<const uint8_t> reply, uint32_t callerCareLow,
                      uint32_t callerCareHigh) {
    auto filter = filledRecord<NettlebeamApiPacketFilter>(0xC3);
    filter.careMaskLow = callerCareLow;
    filter.careMaskHigh = callerCareHigh;
    const auto before = filter;
    const bool decoded = decodePacketFilterBlock(reply, filter);
    FUZZ_CHECK(decoded == (reply.size() >= kPacketFilterBlockSize));
    if (!decoded) {
        FUZZ_CHECK(sameBytes(before, filter));
        return;
    }
    // The caller's bits above the 48-bit care mask survive a read.
    FUZZ_CHECK((filter.careMaskLow & 0xF0000000u) == (callerCareLow & 0xF0000000u));
    FUZZ_CHECK((filter.careMaskHigh & 0xFFF00000u) == (callerCareHigh & 0xFFF00000u));
    auto again = filter;
    FUZZ_CHECK(decodePacketFilterBlock(encodePacketFilterBlock(filter), again));
    FUZZ_CHECK(sameBytes(filter, again));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzedDataProvider input(data, size);
    const uint32_t careLow = input.ConsumeIntegral<uint32_t>();
    const uint32_t careHigh = input.ConsumeIntegral<uint32_t>();
    const std::vector<uint8_t> reply = input.ConsumeRemainingBytes<uint8_t>();
    fuzzPacketsType(reply);
    fuzzDpi(reply);
    fuzzPacketFilter(reply, careLow, careHigh);
    return 0;
}
