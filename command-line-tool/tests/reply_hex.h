// Replies the tests plant with `nettlebeamd inject --reply-hex`.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

// Little-endian hex of 64-bit words, padded with zero bytes to `size` bytes.
inline std::string wordsHex(const std::vector<std::uint64_t>& words, std::size_t size) {
    std::string hex;
    char pair[3];
    for (std::uint64_t word : words) {
        for (int i = 0; i < 8; ++i) {
            std::snprintf(pair, sizeof pair, "%02x",
                          static_cast<unsigned>((word >> (8 * i)) & 0xFF));
            hex += pair;
        }
    }
    hex.resize(2 * size, '0');
    return hex;
}
