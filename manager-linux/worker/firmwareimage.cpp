#include "firmwareimage.h"

#include <cctype>

namespace firmwareimage {

namespace format = nettlebeam::firmware_format;

namespace {

void appendLittleEndian32(Bytes& out, uint32_t value) {
    for (int shift = 0; shift < 32; shift += 8) out.push_back(uint8_t(value >> shift));
}

}  // namespace

std::optional<uint32_t> tagFromText(std::string_view text) {
    if (text.size() != 4) return std::nullopt;
    uint32_t value = 0;
    for (char c : text) {
        if (!std::isprint(static_cast<unsigned char>(c))) return std::nullopt;
        value = (value << 8) | static_cast<unsigned char>(c);
    }
    return value;
}

std::optional<uint32_t> tagForDeviceType(uint32_t deviceType) {
    return format::tagForDeviceType(deviceType);
}

std::vector<uint32_t> taggedDeviceTypes() {
    return format::taggedDeviceTypes();
}

Bytes buildImageFile(uint32_t tag, const Bytes& first, const Bytes& second) {
    return format::buildFile(tag, first, second);
}

std::string checkImageFile(const Bytes& file, std::optional<uint32_t> expectedTag) {
    switch (format::check(file, expectedTag)) {
        case format::Fault::None:
            return {};
        case format::Fault::Short:
            return "shorter than its 16-byte header";
        case format::Fault::WrongTag:
            return "wrong image tag";
        case format::Fault::CrcMismatch:
            return "CRC-32 mismatch";
        case format::Fault::LengthMismatch:
            return "length differs from the header's image lengths";
    }
    return "unknown fault";
}

Bytes makeVersionedImage(const std::array<uint8_t, 4>& software, uint32_t hardware,
                         std::size_t size) {
    constexpr std::size_t kHead = 16;
    Bytes image;
    image.reserve(size > kHead ? size : kHead);
    for (char c : {'N', 'B', 'F', 'C'}) image.push_back(uint8_t(c));
    for (uint8_t component : software) image.push_back(component);
    appendLittleEndian32(image, hardware);
    appendLittleEndian32(image, 0);  // the CRC, once the rest is known
    uint32_t state = 0x2545F491u;
    while (image.size() < size) {  // xorshift: deterministic, incompressible filler
        state ^= state << 13;
        state ^= state >> 17;
        state ^= state << 5;
        image.push_back(uint8_t(state));
    }
    const uint32_t crc = format::crc32(std::span(image).subspan(kHead));
    for (int shift = 0; shift < 32; shift += 8) image[12 + shift / 8] = uint8_t(crc >> shift);
    return image;
}

}  // namespace firmwareimage
