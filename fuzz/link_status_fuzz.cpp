// Link status replies: the speed and status bytes, the PHY details and both
// transceiver modules' EEPROM pages, as a device (or a corrupted transfer)
// could send them.
#include <fuzzer/FuzzedDataProvider.h>

#include <cmath>
#include <cstring>

#include "codec/link_status.h"
#include "fuzz_check.h"

using namespace nettlebeam::codec;
using nettlebeam::fuzz::filledRecord;
using nettlebeam::fuzz::sameBytes;

namespace {

template <size_t N>
bool terminated(const char (&text)[N]) {
    return std::memchr(text, 0, N) != nullptr;
}

void checkModule(const NettlebeamApiSfpModule& module) {
    // Callers print these fields as C strings.
    FUZZ_CHECK(terminated(module.vendorName));
    FUZZ_CHECK(terminated(module.partNumber));
    FUZZ_CHECK(terminated(module.revision));
    FUZZ_CHECK(terminated(module.dateCode));
    FUZZ_CHECK(terminated(module.serialNumber));
    FUZZ_CHECK(module.present == 0 || module.present == 1);
}

void fuzzSpeedBytes(uint8_t byte, bool inlineMode, uint8_t nextByte) {
    auto status = filledRecord<NettlebeamApiLinkStatus>(0);
    decodeGigabitPortSpeedByte(byte, inlineMode, status);
    FUZZ_CHECK(status.portCount == 2 || status.linkValid == 0);
    decodeFastEthernetPortSpeedByte(byte, status);
    decodeLinkStatusByte(byte, status);
    const int32_t reach = sonetReach(byte, nextByte);
    FUZZ_CHECK(reach >= 0 && reach <= 7);
}

void fuzzLinkDetails(std::span<const uint8_t> reply, uint8_t speedByte) {
    auto status = filledRecord<NettlebeamApiLinkStatus>(0);
    decodeGigabitPortSpeedByte(speedByte, false, status);
    const auto before = status;
    const bool decoded = decodeLinkDetails(reply, status);
    FUZZ_CHECK(decoded == (reply.size() >= kLinkDetailsSize));
    if (!decoded) FUZZ_CHECK(sameBytes(before, status));
}

void fuzzTransceivers(std::span<const uint8_t> reply) {
    auto status = filledRecord<NettlebeamApiLinkStatus>(0x5A);
    const auto before = status;
    const bool decoded = decodeTransceiverData(reply, status);
    FUZZ_CHECK(decoded == (reply.size() >= kTransceiverDataSize));
    if (!decoded) {
        FUZZ_CHECK(sameBytes(before, status));
        return;
    }
    for (const auto& module : status.sfp) checkModule(module);
}

// One module from pages of the exact minimum sizes, so that a read past
// either page is caught by the sanitizer rather than hidden by the rest of
// a 500-byte reply.
void fuzzOneModule(FuzzedDataProvider& input) {
    std::vector<uint8_t> a0 = input.ConsumeBytes<uint8_t>(kSfpA0Size);
    a0.resize(kSfpA0Size);
    std::vector<uint8_t> a2 = input.ConsumeBytes<uint8_t>(kSfpA2MinSize);
    a2.resize(kSfpA2MinSize);
    const auto module = decodeSfpModule(input.ConsumeIntegral<uint8_t>(),
                                        std::span<const uint8_t, kSfpA0Size>(a0.data(), kSfpA0Size),
                                        std::span<const uint8_t>(a2.data(), a2.size()));
    checkModule(module);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzedDataProvider input(data, size);
    const uint8_t speedByte = input.ConsumeIntegral<uint8_t>();
    const bool inlineMode = input.ConsumeBool();
    fuzzSpeedBytes(speedByte, inlineMode, input.ConsumeIntegral<uint8_t>());
    // The rest is the reply; a copy of exactly its size lets ASan see overreads.
    const std::vector<uint8_t> reply(data + (size - input.remaining_bytes()), data + size);
    fuzzLinkDetails(reply, speedByte);
    fuzzTransceivers(reply);
    FuzzedDataProvider pages(reply.data(), reply.size());
    fuzzOneModule(pages);
    return 0;
}
