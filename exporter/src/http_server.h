// The HTTP side, on libmicrohttpd: GET /metrics and a one-line page at /.
//
// One thread per connection, so a scrape waiting for a slow device holds up
// no other. The library's limits keep hostile clients in check: a bounded
// number of connections, a memory cap per connection (oversized headers are
// refused with 431), and a timeout for clients that stop sending.
#pragma once

#include <netinet/in.h>

#include <functional>
#include <string>

struct MHD_Daemon;

namespace nettlebeam::exporter {

class HttpServer {
  public:
    // Binds and starts serving; throws std::runtime_error with the reason.
    HttpServer(const sockaddr_storage& address, std::function<std::string()> metrics);
    ~HttpServer();
    HttpServer(const HttpServer&) = delete;
    HttpServer& operator=(const HttpServer&) = delete;

    // The port bound (useful with port 0).
    unsigned port() const;
    const std::function<std::string()>& metrics() const { return metrics_; }

  private:
    std::function<std::string()> metrics_;
    MHD_Daemon* daemon_ = nullptr;
};

}  // namespace nettlebeam::exporter
