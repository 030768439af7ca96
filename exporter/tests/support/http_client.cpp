#include "http_client.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdlib>

namespace nettlebeam::exporter::testing {

int connectTo(unsigned port) {
    int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return -1;
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<uint16_t>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        close(fd);
        return -1;
    }
    return fd;
}

HttpReply exchange(unsigned port, const std::string& request) {
    HttpReply reply;
    int fd = connectTo(port);
    if (fd < 0) return reply;
    size_t sent = 0;
    while (sent < request.size()) {
        ssize_t n = send(fd, request.data() + sent, request.size() - sent, MSG_NOSIGNAL);
        if (n <= 0) break;
        sent += static_cast<size_t>(n);
    }
    std::string raw;
    char buffer[16384];
    while (true) {
        pollfd p{fd, POLLIN, 0};
        if (poll(&p, 1, 30000) <= 0) break;
        ssize_t n = recv(fd, buffer, sizeof buffer, 0);
        if (n <= 0) break;
        raw.append(buffer, static_cast<size_t>(n));
    }
    close(fd);
    size_t end = raw.find("\r\n\r\n");
    if (raw.rfind("HTTP/1.", 0) != 0 || end == std::string::npos) return reply;
    reply.status = std::atoi(raw.c_str() + 9);
    reply.headers = raw.substr(0, end);
    reply.body = raw.substr(end + 4);
    return reply;
}

HttpReply get(unsigned port, const std::string& target, const std::string& extraHeaders) {
    return exchange(port, "GET " + target + " HTTP/1.1\r\nHost: 127.0.0.1\r\n" + extraHeaders +
                              "Connection: close\r\n\r\n");
}

}  // namespace nettlebeam::exporter::testing
