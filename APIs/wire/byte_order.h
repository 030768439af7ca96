// Little- and big-endian access to the fields of protocol blocks: the
// control socket's frames and the device blocks the library and the daemon
// exchange are little-endian whatever the host; a few transceiver fields are
// big-endian. Callers check a block's size before touching it; these helpers
// only assemble and spread the bytes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <span>
#include <vector>

namespace nettlebeam::wire {

inline uint16_t readLe16(std::span<const uint8_t> bytes, size_t offset) {
    return static_cast<uint16_t>(bytes[offset] | (bytes[offset + 1] << 8));
}

inline uint32_t readLe32(std::span<const uint8_t> bytes, size_t offset) {
    return static_cast<uint32_t>(bytes[offset]) | (static_cast<uint32_t>(bytes[offset + 1]) << 8) |
           (static_cast<uint32_t>(bytes[offset + 2]) << 16) |
           (static_cast<uint32_t>(bytes[offset + 3]) << 24);
}

inline uint64_t readLe64(std::span<const uint8_t> bytes, size_t offset) {
    return static_cast<uint64_t>(readLe32(bytes, offset)) |
           (static_cast<uint64_t>(readLe32(bytes, offset + 4)) << 32);
}

inline uint16_t readBe16(std::span<const uint8_t> bytes, size_t offset) {
    return static_cast<uint16_t>((bytes[offset] << 8) | bytes[offset + 1]);
}

inline uint32_t readBe32(std::span<const uint8_t> bytes, size_t offset) {
    return (static_cast<uint32_t>(readBe16(bytes, offset)) << 16) | readBe16(bytes, offset + 2);
}

inline float readBeFloat(std::span<const uint8_t> bytes, size_t offset) {
    const uint32_t raw = readBe32(bytes, offset);
    float value;
    std::memcpy(&value, &raw, sizeof value);
    return value;
}

inline void writeLe16(std::span<uint8_t> bytes, size_t offset, uint16_t value) {
    bytes[offset] = static_cast<uint8_t>(value);
    bytes[offset + 1] = static_cast<uint8_t>(value >> 8);
}

inline void writeLe32(std::span<uint8_t> bytes, size_t offset, uint32_t value) {
    for (size_t i = 0; i < 4; ++i) bytes[offset + i] = static_cast<uint8_t>(value >> (8 * i));
}

inline void writeLe64(std::span<uint8_t> bytes, size_t offset, uint64_t value) {
    for (size_t i = 0; i < 8; ++i) bytes[offset + i] = static_cast<uint8_t>(value >> (8 * i));
}

inline void writeBe16(std::span<uint8_t> bytes, size_t offset, uint16_t value) {
    bytes[offset] = static_cast<uint8_t>(value >> 8);
    bytes[offset + 1] = static_cast<uint8_t>(value);
}

inline void writeBeFloat(std::span<uint8_t> bytes, size_t offset, float value) {
    uint32_t raw;
    std::memcpy(&raw, &value, sizeof raw);
    for (size_t i = 0; i < 4; ++i) bytes[offset + i] = static_cast<uint8_t>(raw >> (24 - 8 * i));
}

// For blocks built field by field at their end.
inline void appendLe16(std::vector<uint8_t>& bytes, uint16_t value) {
    bytes.push_back(static_cast<uint8_t>(value));
    bytes.push_back(static_cast<uint8_t>(value >> 8));
}

inline void appendLe32(std::vector<uint8_t>& bytes, uint32_t value) {
    for (size_t i = 0; i < 4; ++i) bytes.push_back(static_cast<uint8_t>(value >> (8 * i)));
}

inline bool bitSet(uint32_t value, unsigned bit) {
    return ((value >> bit) & 1u) != 0;
}

}  // namespace nettlebeam::wire
