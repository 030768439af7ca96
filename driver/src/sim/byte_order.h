// Little- and big-endian field access for device blocks.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <span>

namespace nettlebeam::driver::sim {

inline void putLe16(std::span<uint8_t> out, size_t at, uint16_t v) {
    out[at] = static_cast<uint8_t>(v);
    out[at + 1] = static_cast<uint8_t>(v >> 8);
}
inline void putLe32(std::span<uint8_t> out, size_t at, uint32_t v) {
    for (size_t i = 0; i < 4; ++i) out[at + i] = static_cast<uint8_t>(v >> (8 * i));
}
inline void putLe64(std::span<uint8_t> out, size_t at, uint64_t v) {
    for (size_t i = 0; i < 8; ++i) out[at + i] = static_cast<uint8_t>(v >> (8 * i));
}
inline void putBe16(std::span<uint8_t> out, size_t at, uint16_t v) {
    out[at] = static_cast<uint8_t>(v >> 8);
    out[at + 1] = static_cast<uint8_t>(v);
}
inline void putBeFloat(std::span<uint8_t> out, size_t at, float f) {
    uint32_t v;
    std::memcpy(&v, &f, sizeof v);
    for (size_t i = 0; i < 4; ++i) out[at + i] = static_cast<uint8_t>(v >> (24 - 8 * i));
}

inline uint16_t getLe16(std::span<const uint8_t> in, size_t at) {
    return static_cast<uint16_t>(in[at] | (in[at + 1] << 8));
}
inline uint32_t getLe32(std::span<const uint8_t> in, size_t at) {
    uint32_t v = 0;
    for (size_t i = 0; i < 4; ++i) v |= static_cast<uint32_t>(in[at + i]) << (8 * i);
    return v;
}
inline uint64_t getLe64(std::span<const uint8_t> in, size_t at) {
    uint64_t v = 0;
    for (size_t i = 0; i < 8; ++i) v |= static_cast<uint64_t>(in[at + i]) << (8 * i);
    return v;
}
inline uint16_t getBe16(std::span<const uint8_t> in, size_t at) {
    return static_cast<uint16_t>((in[at] << 8) | in[at + 1]);
}

}  // namespace nettlebeam::driver::sim
