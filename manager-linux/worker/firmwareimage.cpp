#include "firmwareimage.h"

#include <zlib.h>

#include <cctype>

namespace firmwareimage {

namespace {

struct TypeTag {
    uint32_t deviceType;
    const char* tag;
};

constexpr TypeTag kTypeTags[] = {
    {3, "KV7F"}, {4, "KV7T"},  {5, "KV7P"},  {6, "KV7W"},  {7, "KV7W"},  {8, "KV7P"},
    {9, "KV7P"}, {10, "KV7P"}, {11, "KVTX"}, {12, "QRZM"}, {13, "QFHD"},
};

void appendLittleEndian32(Bytes& out, uint32_t value) {
    for (int shift = 0; shift < 32; shift += 8) out.push_back(uint8_t(value >> shift));
}

uint32_t readLittleEndian32(const Bytes& bytes, std::size_t offset) {
    return uint32_t(bytes[offset]) | (uint32_t(bytes[offset + 1]) << 8) |
           (uint32_t(bytes[offset + 2]) << 16) | (uint32_t(bytes[offset + 3]) << 24);
}

uint32_t crcOfPayload(const Bytes& file) {
    uLong crc = crc32(0L, Z_NULL, 0);
    const uint8_t* data = file.data() + kHeaderSize;
    std::size_t left = file.size() - kHeaderSize;
    while (left > 0) {  // zlib takes 32-bit lengths
        const uInt chunk = left > 0x40000000u ? 0x40000000u : uInt(left);
        crc = crc32(crc, data, chunk);
        data += chunk;
        left -= chunk;
    }
    return uint32_t(crc);
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
    for (const TypeTag& entry : kTypeTags) {
        if (entry.deviceType == deviceType) return tagFromText(entry.tag);
    }
    return std::nullopt;
}

std::vector<uint32_t> taggedDeviceTypes() {
    std::vector<uint32_t> types;
    for (const TypeTag& entry : kTypeTags) types.push_back(entry.deviceType);
    return types;
}

Bytes buildImageFile(uint32_t tag, const Bytes& first, const Bytes& second) {
    Bytes file;
    file.reserve(kHeaderSize + first.size() + second.size());
    appendLittleEndian32(file, tag);
    appendLittleEndian32(file, 0);  // the CRC, once the payload is in place
    appendLittleEndian32(file, uint32_t(first.size()));
    appendLittleEndian32(file, uint32_t(second.size()));
    file.insert(file.end(), first.begin(), first.end());
    file.insert(file.end(), second.begin(), second.end());
    const uint32_t crc = crcOfPayload(file);
    for (int i = 0; i < 4; ++i) file[4 + i] = uint8_t(crc >> (8 * i));
    return file;
}

std::string checkImageFile(const Bytes& file, std::optional<uint32_t> expectedTag) {
    if (file.size() < kHeaderSize) return "shorter than its 16-byte header";
    if (expectedTag && readLittleEndian32(file, 0) != *expectedTag) return "wrong image tag";
    if (crcOfPayload(file) != readLittleEndian32(file, 4)) return "CRC-32 mismatch";
    const uint64_t declared =
        kHeaderSize + uint64_t(readLittleEndian32(file, 8)) + readLittleEndian32(file, 12);
    if (declared != file.size()) return "length differs from the header's image lengths";
    return {};
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
    const uLong crc = crc32(crc32(0, nullptr, 0), image.data() + kHead, uInt(image.size() - kHead));
    for (int shift = 0; shift < 32; shift += 8) image[12 + shift / 8] = uint8_t(crc >> shift);
    return image;
}

}  // namespace firmwareimage
