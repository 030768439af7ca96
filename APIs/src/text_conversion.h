// UTF-16 names from callers and the UTF-8 names of the host's file system.
#pragma once

#include <optional>
#include <string>

namespace nettlebeam::api {

// Empty when `text` is null or holds an unpaired surrogate.
std::optional<std::string> utf16ToUtf8(const char16_t* text);
// Empty when `text` is not valid UTF-8.
std::optional<std::u16string> utf8ToUtf16(const std::string& text);

// The absolute form of a file name: relative names are taken against the
// current directory, and "." and ".." are resolved lexically (the file need not
// exist). Empty when the name is null, empty or not valid UTF-16, or when the
// current directory cannot be read.
std::optional<std::u16string> absoluteFileName(const char16_t* name);

}  // namespace nettlebeam::api
