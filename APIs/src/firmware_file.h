// Reading a firmware image file whole, refusing what cannot be one.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace nettlebeam::api {

// Far above the two images of any device, low enough to be held in memory.
inline constexpr size_t kMaxFirmwareFileBytes = size_t{128} << 20;

// The file's bytes; nothing when it is not a regular file (a directory, a
// device such as /dev/zero, a FIFO), cannot be opened or read, or is larger
// than kMaxFirmwareFileBytes.
std::optional<std::vector<uint8_t>> readFirmwareFile(const std::string& path);

}  // namespace nettlebeam::api
