#include "text_conversion.h"

#include <filesystem>
#include <system_error>

namespace nettlebeam::api {

namespace {

void appendUtf8(std::string& out, char32_t code) {
    if (code < 0x80) {
        out += static_cast<char>(code);
    } else if (code < 0x800) {
        out += static_cast<char>(0xC0 | (code >> 6));
        out += static_cast<char>(0x80 | (code & 0x3F));
    } else if (code < 0x10000) {
        out += static_cast<char>(0xE0 | (code >> 12));
        out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (code & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (code >> 18));
        out += static_cast<char>(0x80 | ((code >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (code & 0x3F));
    }
}

bool isHighSurrogate(char16_t unit) {
    return unit >= 0xD800 && unit <= 0xDBFF;
}
bool isLowSurrogate(char16_t unit) {
    return unit >= 0xDC00 && unit <= 0xDFFF;
}

// Decodes one UTF-8 sequence at `i`; empty when it is malformed.
std::optional<char32_t> nextCodePoint(const std::string& text, size_t& i) {
    auto lead = static_cast<unsigned char>(text[i++]);
    if (lead < 0x80) return lead;
    int continuation = 0;
    char32_t code = 0;
    char32_t minimum = 0;
    if ((lead & 0xE0) == 0xC0) {
        continuation = 1, code = lead & 0x1F, minimum = 0x80;
    } else if ((lead & 0xF0) == 0xE0) {
        continuation = 2, code = lead & 0x0F, minimum = 0x800;
    } else if ((lead & 0xF8) == 0xF0) {
        continuation = 3, code = lead & 0x07, minimum = 0x10000;
    } else {
        return std::nullopt;
    }
    for (int k = 0; k < continuation; ++k) {
        if (i >= text.size()) return std::nullopt;
        auto next = static_cast<unsigned char>(text[i++]);
        if ((next & 0xC0) != 0x80) return std::nullopt;
        code = (code << 6) | (next & 0x3F);
    }
    if (code < minimum || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF))
        return std::nullopt;
    return code;
}

}  // namespace

std::optional<std::string> utf16ToUtf8(const char16_t* text) {
    if (text == nullptr) return std::nullopt;
    std::string out;
    for (size_t i = 0; text[i] != 0; ++i) {
        char16_t unit = text[i];
        if (isLowSurrogate(unit)) return std::nullopt;
        if (!isHighSurrogate(unit)) {
            appendUtf8(out, unit);
            continue;
        }
        char16_t low = text[i + 1];
        if (!isLowSurrogate(low)) return std::nullopt;
        appendUtf8(out, 0x10000 + ((char32_t{unit} - 0xD800) << 10) + (char32_t{low} - 0xDC00));
        ++i;
    }
    return out;
}

std::optional<std::u16string> utf8ToUtf16(const std::string& text) {
    std::u16string out;
    size_t i = 0;
    while (i < text.size()) {
        auto code = nextCodePoint(text, i);
        if (!code) return std::nullopt;
        if (*code < 0x10000) {
            out += static_cast<char16_t>(*code);
        } else {
            char32_t offset = *code - 0x10000;
            out += static_cast<char16_t>(0xD800 + (offset >> 10));
            out += static_cast<char16_t>(0xDC00 + (offset & 0x3FF));
        }
    }
    return out;
}

std::optional<std::u16string> absoluteFileName(const char16_t* name) {
    auto utf8 = utf16ToUtf8(name);
    if (!utf8 || utf8->empty()) return std::nullopt;
    std::error_code error;
    std::filesystem::path absolute = std::filesystem::absolute(*utf8, error);
    if (error) return std::nullopt;
    return utf8ToUtf16(absolute.lexically_normal().string());
}

}  // namespace nettlebeam::api
