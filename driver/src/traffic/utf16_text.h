// File names travel to the host in UTF-16 (status replies, new-file events)
// while Linux names are bytes, normally UTF-8. Both directions are lenient:
// a name is reported whatever it contains, with U+FFFD for what does not
// convert, rather than not at all.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

namespace nettlebeam::traffic {

// Unpaired surrogates become U+FFFD.
std::string toUtf8(std::u16string_view text);
// Invalid or truncated UTF-8 sequences become U+FFFD, one per bad byte.
std::u16string toUtf16(std::string_view text);
// Stores `text` as little-endian UTF-16 units from byte `at`, cut so that a
// terminating zero unit still fits inside `out` (which must be zero there).
void putUtf16Le(std::span<uint8_t> out, size_t at, std::u16string_view text);

}  // namespace nettlebeam::traffic
