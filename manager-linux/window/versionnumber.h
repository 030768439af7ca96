// Four-component version values ("0.1.3.62"), packed into 32 bits with the
// first component in the lowest byte, as the library reports driver and
// firmware versions.
#pragma once

#include <QString>
#include <cstdint>

class VersionNumber {
  public:
    // 0 unless the text has exactly four dot-separated parts; each part is
    // read as a decimal number into its byte.
    static uint32_t parse(const QString& text);
    static QString format(uint32_t value);
    // The packed value of four bytes in address order (first component first).
    static uint32_t fromBytes(const uint8_t bytes[4]);

    // Component by component from the first: +1 when a component is above
    // the maximum's, -1 when below the minimum's, 0 when all four are in range.
    static int compareRange(uint32_t value, uint32_t minimum, uint32_t maximum);
    // Lexicographic, first component most significant: -1, 0 or +1.
    static int compare(uint32_t a, uint32_t b);

    static uint8_t component(uint32_t value, int index) {
        return static_cast<uint8_t>(value >> (8 * index));
    }
};
