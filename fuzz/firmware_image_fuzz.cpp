// Firmware image files as a user might pick them: the check must reject
// anything inconsistent and, when it accepts, hand out images that lie
// inside the file and split into blocks that cover them exactly.
#include <fuzzer/FuzzedDataProvider.h>

#include "codec/firmware_image.h"
#include "fuzz_check.h"

using namespace nettlebeam::codec;

namespace {

bool inside(std::span<const uint8_t> part, std::span<const uint8_t> whole) {
    return part.data() >= whole.data() && part.data() + part.size() <= whole.data() + whole.size();
}

void checkBlocks(std::span<const uint8_t> image) {
    size_t covered = 0;
    for (const auto block : firmwareBlocks(image)) {
        FUZZ_CHECK(!block.empty() && block.size() <= nettlebeam::wire::kMaxFirmwareBlockBytes);
        FUZZ_CHECK(block.data() == image.data() + covered);
        covered += block.size();
    }
    FUZZ_CHECK(covered == image.size());
}

void checkProgress(uint8_t programmed) {
    const auto first = firstImageProgress(programmed);
    const auto second = secondImageProgress(programmed);
    FUZZ_CHECK(first.has_value() == second.has_value());
    if (first) FUZZ_CHECK(*first >= 10 && *first < 25 && *second >= 50 && *second < 100);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzedDataProvider input(data, size);
    const auto type =
        static_cast<NettlebeamApiDeviceType>(input.ConsumeIntegralInRange<int>(0, 20));
    checkProgress(input.ConsumeIntegral<uint8_t>());
    const std::vector<uint8_t> file = input.ConsumeRemainingBytes<uint8_t>();
    const auto images = checkFirmwareImage(file, type);
    if (images.status != NETTLEBEAM_STATUS_SUCCESS) {
        FUZZ_CHECK(images.status == NETTLEBEAM_STATUS_INVALID_VALUE);
        return 0;
    }
    FUZZ_CHECK(file.size() == kFirmwareHeaderSize + images.first.size() + images.second.size());
    FUZZ_CHECK(inside(images.first, file) && inside(images.second, file));
    FUZZ_CHECK(firmwareCrc32(std::span<const uint8_t>(file).subspan(kFirmwareHeaderSize)) ==
               (file[4] | file[5] << 8 | file[6] << 16 | static_cast<uint32_t>(file[7]) << 24));
    checkBlocks(images.first);
    checkBlocks(images.second);
    return 0;
}
