// gzip for the responses of clients that ask for it.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace nettlebeam::exporter {

// The gzip stream of `data`; empty when zlib fails.
std::optional<std::string> gzipCompress(std::string_view data);
// True when an Accept-Encoding header value accepts gzip (q=0 refuses it).
bool acceptsGzip(std::string_view acceptEncoding);

}  // namespace nettlebeam::exporter
