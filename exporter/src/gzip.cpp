#include "gzip.h"

#include <zlib.h>

#include <cctype>
#include <cstdlib>

namespace nettlebeam::exporter {

std::optional<std::string> gzipCompress(std::string_view data) {
    z_stream stream{};
    // 15 window bits plus 16: a gzip header and trailer instead of zlib's.
    if (deflateInit2(&stream, Z_DEFAULT_COMPRESSION, Z_DEFLATED, 15 + 16, 8, Z_DEFAULT_STRATEGY) !=
        Z_OK)
        return std::nullopt;
    std::string out(deflateBound(&stream, data.size()), '\0');
    stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.data()));
    stream.avail_in = static_cast<uInt>(data.size());
    stream.next_out = reinterpret_cast<Bytef*>(out.data());
    stream.avail_out = static_cast<uInt>(out.size());
    int result = deflate(&stream, Z_FINISH);
    out.resize(stream.total_out);
    deflateEnd(&stream);
    if (result != Z_STREAM_END) return std::nullopt;
    return out;
}

namespace {

std::string_view trim(std::string_view text) {
    while (!text.empty() && std::isspace(static_cast<unsigned char>(text.front())))
        text.remove_prefix(1);
    while (!text.empty() && std::isspace(static_cast<unsigned char>(text.back())))
        text.remove_suffix(1);
    return text;
}

bool equalsIgnoringCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (std::tolower(static_cast<unsigned char>(a[i])) !=
            std::tolower(static_cast<unsigned char>(b[i])))
            return false;
    return true;
}

}  // namespace

bool acceptsGzip(std::string_view header) {
    while (!header.empty()) {
        size_t comma = header.find(',');
        std::string_view item = header.substr(0, comma);
        header = comma == std::string_view::npos ? std::string_view() : header.substr(comma + 1);
        size_t semicolon = item.find(';');
        std::string_view coding = trim(item.substr(0, semicolon));
        if (!equalsIgnoringCase(coding, "gzip") && coding != "*") continue;
        if (semicolon == std::string_view::npos) return true;
        std::string_view parameter = trim(item.substr(semicolon + 1));
        if (!parameter.starts_with("q=")) return true;
        std::string q(parameter.substr(2));
        return std::strtod(q.c_str(), nullptr) > 0;
    }
    return false;
}

}  // namespace nettlebeam::exporter
