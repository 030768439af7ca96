// File names for the library, which takes them in UTF-16, from the UTF-8
// they are given in here.
#pragma once

#include <optional>
#include <string>

namespace beamctl {

// Nothing when `text` is not valid UTF-8: a truncated or overlong sequence,
// a surrogate, or a value above U+10FFFF.
std::optional<std::u16string> utf16FromUtf8(const char* text);

}  // namespace beamctl
