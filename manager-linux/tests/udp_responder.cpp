#include "udp_responder.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <stdexcept>

namespace {

int boundLoopbackSocket(uint16_t* port) {
    const int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd < 0) throw std::runtime_error("udp responder: socket failed");
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    if (::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
        ::close(fd);
        throw std::runtime_error("udp responder: bind failed");
    }
    if (port) *port = ntohs(address.sin_port);
    return fd;
}

void putBigEndian32(Datagram& bytes, std::size_t offset, uint32_t value) {
    for (int i = 0; i < 4; ++i) bytes[offset + i] = uint8_t(value >> (24 - 8 * i));
}

}  // namespace

Datagram sntpServerReply(uint32_t ntpSeconds, uint32_t fraction) {
    Datagram reply(48, 0);
    reply[0] = 0x1C;  // leap 0, version 3, mode 4
    reply[1] = 2;
    putBigEndian32(reply, 40, ntpSeconds);
    putBigEndian32(reply, 44, fraction);
    return reply;
}

UdpResponder::UdpResponder(Script script) : script_(std::move(script)) {
    socket_ = boundLoopbackSocket(&port_);
    otherSocket_ = boundLoopbackSocket(nullptr);
    if (::pipe2(stopPipe_, O_CLOEXEC) != 0) throw std::runtime_error("udp responder: pipe failed");
    thread_ = std::thread([this] { serve(); });
}

UdpResponder::~UdpResponder() {
    const char stop = 's';
    (void)!::write(stopPipe_[1], &stop, 1);
    thread_.join();
    for (int fd : {socket_, otherSocket_, stopPipe_[0], stopPipe_[1]}) ::close(fd);
}

std::vector<Datagram> UdpResponder::received() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return received_;
}

void UdpResponder::serve() {
    for (;;) {
        pollfd watched[2] = {{socket_, POLLIN, 0}, {stopPipe_[0], POLLIN, 0}};
        if (::poll(watched, 2, -1) < 0) continue;
        if (watched[1].revents != 0) return;
        uint8_t buffer[2048];
        sockaddr_in client{};
        socklen_t length = sizeof client;
        const ssize_t size = ::recvfrom(socket_, buffer, sizeof buffer, 0,
                                        reinterpret_cast<sockaddr*>(&client), &length);
        if (size < 0) continue;
        const Datagram request(buffer, buffer + size);
        {
            std::lock_guard<std::mutex> lock(mutex_);
            received_.push_back(request);
        }
        const int index = requests_.fetch_add(1);
        const std::optional<ScriptedReply> reply = script_(index, request);
        if (!reply) continue;
        const int sender = reply->fromOtherPort ? otherSocket_ : socket_;
        ::sendto(sender, reply->bytes.data(), reply->bytes.size(), 0,
                 reinterpret_cast<sockaddr*>(&client), length);
    }
}
