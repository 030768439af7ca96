#include "http_server.h"

#include <microhttpd.h>

#include <cstring>
#include <exception>
#include <stdexcept>

#include "gzip.h"

namespace nettlebeam::exporter {
namespace {

constexpr unsigned kConnectionLimit = 256;
constexpr size_t kConnectionMemory = 32 * 1024;
constexpr unsigned kIdleTimeoutSeconds = 10;
constexpr size_t kThreadStack = 256 * 1024;

const char kMetricsType[] = "text/plain; version=0.0.4; charset=utf-8";
const char kIndexPage[] =
    "<html><head><title>nettlebeam-exporter</title></head><body>"
    "<a href=\"/metrics\">Metrics</a></body></html>\n";

MHD_Result queue(MHD_Connection* connection, unsigned status, const std::string& body,
                 const char* type, bool gzipped) {
    MHD_Response* response = MHD_create_response_from_buffer(
        body.size(), const_cast<char*>(body.data()), MHD_RESPMEM_MUST_COPY);
    if (response == nullptr) return MHD_NO;
    MHD_add_response_header(response, MHD_HTTP_HEADER_CONTENT_TYPE, type);
    if (gzipped) MHD_add_response_header(response, MHD_HTTP_HEADER_CONTENT_ENCODING, "gzip");
    MHD_add_response_header(response, MHD_HTTP_HEADER_VARY, "Accept-Encoding");
    MHD_Result result = MHD_queue_response(connection, status, response);
    MHD_destroy_response(response);
    return result;
}

MHD_Result respond(HttpServer& server, MHD_Connection* connection, const char* url,
                   const char* method) {
    bool get = std::strcmp(method, MHD_HTTP_METHOD_GET) == 0;
    bool head = std::strcmp(method, MHD_HTTP_METHOD_HEAD) == 0;
    if (!get && !head)
        return queue(connection, MHD_HTTP_METHOD_NOT_ALLOWED, "method not allowed\n", "text/plain",
                     false);
    if (std::strcmp(url, "/") == 0)
        return queue(connection, MHD_HTTP_OK, kIndexPage, "text/html", false);
    if (std::strcmp(url, "/metrics") != 0)
        return queue(connection, MHD_HTTP_NOT_FOUND, "not found\n", "text/plain", false);
    std::string text = server.metrics()();
    const char* encoding =
        MHD_lookup_connection_value(connection, MHD_HEADER_KIND, MHD_HTTP_HEADER_ACCEPT_ENCODING);
    if (encoding != nullptr && acceptsGzip(encoding)) {
        if (std::optional<std::string> packed = gzipCompress(text))
            return queue(connection, MHD_HTTP_OK, *packed, kMetricsType, true);
    }
    return queue(connection, MHD_HTTP_OK, text, kMetricsType, false);
}

MHD_Result handle(void* context, MHD_Connection* connection, const char* url, const char* method,
                  const char*, const char*, size_t* uploadSize, void** state) {
    // First call: headers only. A body, which no request here needs, is
    // read and dropped before the answer.
    static int headersSeen;
    if (*state == nullptr) {
        *state = &headersSeen;
        return MHD_YES;
    }
    if (*uploadSize != 0) {
        *uploadSize = 0;
        return MHD_YES;
    }
    try {
        return respond(*static_cast<HttpServer*>(context), connection, url, method);
    } catch (const std::exception&) {
        return MHD_NO;  // closes the connection
    }
}

}  // namespace

HttpServer::HttpServer(const sockaddr_storage& address, std::function<std::string()> metrics)
    : metrics_(std::move(metrics)) {
    unsigned flags = MHD_USE_INTERNAL_POLLING_THREAD | MHD_USE_THREAD_PER_CONNECTION;
    if (address.ss_family == AF_INET6) flags |= MHD_USE_IPv6;
    daemon_ = MHD_start_daemon(flags, 0, nullptr, nullptr, &handle, this, MHD_OPTION_SOCK_ADDR,
                               &address, MHD_OPTION_CONNECTION_LIMIT, kConnectionLimit,
                               MHD_OPTION_CONNECTION_MEMORY_LIMIT, kConnectionMemory,
                               MHD_OPTION_CONNECTION_TIMEOUT, kIdleTimeoutSeconds,
                               MHD_OPTION_THREAD_STACK_SIZE, kThreadStack, MHD_OPTION_END);
    if (daemon_ == nullptr)
        throw std::runtime_error(std::string("cannot listen: ") + std::strerror(errno));
}

HttpServer::~HttpServer() {
    MHD_stop_daemon(daemon_);
}

unsigned HttpServer::port() const {
    const MHD_DaemonInfo* info = MHD_get_daemon_info(daemon_, MHD_DAEMON_INFO_BIND_PORT);
    return info ? info->port : 0;
}

}  // namespace nettlebeam::exporter
