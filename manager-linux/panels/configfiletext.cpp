#include "configfiletext.h"

#include <QChar>
#include <algorithm>

namespace {

// The code point of the well-formed UTF-8 sequence at `at` and its length,
// or length 0 when the bytes there are not one (overlong forms, surrogates
// and values past U+10FFFF included).
struct Decoded {
    char32_t codePoint = 0;
    int length = 0;
};

Decoded decodeUtf8(const QByteArray& bytes, int at) {
    const auto byte = [&](int i) { return static_cast<uint8_t>(bytes[i]); };
    const uint8_t lead = byte(at);
    int length = 0;
    char32_t value = 0;
    char32_t least = 0;
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2, value = lead & 0x1F, least = 0x80;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3, value = lead & 0x0F, least = 0x800;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4, value = lead & 0x07, least = 0x10000;
    } else {
        return {};
    }
    if (at + length > bytes.size()) return {};
    for (int i = 1; i < length; ++i) {
        const uint8_t next = byte(at + i);
        if ((next & 0xC0) != 0x80) return {};
        value = (value << 6) | (next & 0x3F);
    }
    if (value < least || value > 0x10FFFF || (value >= 0xD800 && value <= 0xDFFF)) return {};
    return {value, length};
}

// Characters the editor turns into a line break of its own.
bool breaksLine(char32_t codePoint) {
    return codePoint == QChar::ParagraphSeparator || codePoint == 0xFDD0 || codePoint == 0xFDD1;
}

}  // namespace

ConfigFileText::ConfigFileText(const QByteArray& bytes) : bytes_(bytes) {
    bool sawLineEnd = false;
    const auto push = [&](QChar c, int offset) {
        text_.append(c);
        offsets_.push_back(offset);
    };
    for (int at = 0; at < bytes_.size();) {
        const auto byte = static_cast<uint8_t>(bytes_[at]);
        if (byte == '\r' || byte == '\n') {
            const bool pair = byte == '\r' && at + 1 < bytes_.size() && bytes_[at + 1] == '\n';
            if (!sawLineEnd) crlf_ = pair;
            sawLineEnd = true;
            push(QLatin1Char('\n'), at);
            at += pair ? 2 : 1;
        } else if (byte < 0x80) {
            push(QLatin1Char(char(byte)), at++);
        } else if (const Decoded d = decodeUtf8(bytes_, at); d.length > 0) {
            if (breaksLine(d.codePoint)) {
                push(QLatin1Char('\n'), at);
            } else if (QChar::requiresSurrogates(d.codePoint)) {
                push(QChar(QChar::highSurrogate(d.codePoint)), at);
                push(QChar(QChar::lowSurrogate(d.codePoint)), at);
            } else {
                push(QChar(char16_t(d.codePoint)), at);
            }
            at += d.length;
        } else {
            utf8_ = false;
            push(QChar(char16_t(byte)), at++);
        }
    }
    offsets_.push_back(bytes_.size());
}

QByteArray ConfigFileText::encode(const QString& text) const {
    QByteArray out;
    for (int i = 0; i < text.size(); ++i) {
        const QChar c = text[i];
        if (c == QLatin1Char('\n')) {
            out.append(crlf_ ? "\r\n" : "\n");
        } else if (!utf8_ && c.unicode() <= 0xFF) {
            out.append(char(c.unicode()));
        } else if (c.isHighSurrogate() && i + 1 < text.size() && text[i + 1].isLowSurrogate()) {
            out.append(text.mid(i, 2).toUtf8());
            ++i;
        } else {
            out.append(QString(c).toUtf8());
        }
    }
    return out;
}

QByteArray ConfigFileText::bytesFor(const QString& edited) const {
    if (edited == text_) return bytes_;
    const int oldSize = text_.size();
    const int newSize = edited.size();
    const int shorter = std::min(oldSize, newSize);
    int prefix = 0;
    while (prefix < shorter && text_[prefix] == edited[prefix]) ++prefix;
    // A pair that shares its first half may differ in its second.
    if (prefix > 0 && text_[prefix - 1].isHighSurrogate()) --prefix;
    int suffix = 0;
    while (suffix < shorter - prefix && text_[oldSize - 1 - suffix] == edited[newSize - 1 - suffix])
        ++suffix;
    if (suffix > 0 && text_[oldSize - suffix].isLowSurrogate()) --suffix;

    const int from = offsets_[prefix];
    const int to = offsets_[oldSize - suffix];
    return bytes_.left(from) + encode(edited.mid(prefix, newSize - suffix - prefix)) +
           bytes_.mid(to);
}
