// A plain HTTP/1.1 client for the tests: one request per connection.
#pragma once

#include <string>

namespace nettlebeam::exporter::testing {

struct HttpReply {
    int status = 0;  // 0 when no reply came
    std::string headers;
    std::string body;
};

// Sends `request` as it is to 127.0.0.1:port and reads until the server
// closes; gives up after 30 s.
HttpReply exchange(unsigned port, const std::string& request);
// GET `target` with the given extra header lines ("Name: value\r\n").
HttpReply get(unsigned port, const std::string& target, const std::string& extraHeaders = "");
// Opens a connection to 127.0.0.1:port; -1 on failure.
int connectTo(unsigned port);

}  // namespace nettlebeam::exporter::testing
