#include "utf16.h"

namespace beamctl {
namespace {

// The smallest value each sequence length may carry: anything less is an
// overlong form.
constexpr char32_t kSmallestOfLength[] = {0, 0, 0x80, 0x800, 0x10000};

// The length of the sequence a lead byte starts; 0 for a byte that cannot
// lead one.
int utf8SequenceLength(unsigned char lead) {
    if (lead < 0x80) return 1;
    if ((lead & 0xE0) == 0xC0) return 2;
    if ((lead & 0xF0) == 0xE0) return 3;
    if ((lead & 0xF8) == 0xF0) return 4;
    return 0;
}

void appendUtf16(std::u16string& out, char32_t code) {
    if (code < 0x10000) {
        out.push_back(static_cast<char16_t>(code));
        return;
    }
    code -= 0x10000;
    out.push_back(static_cast<char16_t>(0xD800 + (code >> 10)));
    out.push_back(static_cast<char16_t>(0xDC00 + (code & 0x3FF)));
}

}  // namespace

std::optional<std::u16string> utf16FromUtf8(const char* text) {
    std::u16string wide;
    const auto* byte = reinterpret_cast<const unsigned char*>(text);
    while (*byte != 0) {
        char32_t code = 0;
        int length = utf8SequenceLength(*byte);
        if (length == 0) return std::nullopt;
        code = length == 1 ? *byte : *byte & (0x7F >> length);
        for (int i = 1; i < length; ++i) {
            if ((byte[i] & 0xC0) != 0x80) return std::nullopt;  // also stops at the terminator
            code = (code << 6) | (byte[i] & 0x3F);
        }
        if (code < kSmallestOfLength[length] || code > 0x10FFFF ||
            (code >= 0xD800 && code <= 0xDFFF))
            return std::nullopt;
        appendUtf16(wide, code);
        byte += length;
    }
    return wide;
}

}  // namespace beamctl
