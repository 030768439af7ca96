// Test support: a control socket of its own in front of a real nettlebeamd.
// Every connection made to it is relayed to the daemon byte for byte, and the
// requests are counted by code, so a test can tell how often the library asks.
#pragma once

#include <gtest/gtest.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "frame.h"

namespace nettlebeam::apitest {

class CountingRelay {
  public:
    explicit CountingRelay(std::string target) : target_(std::move(target)) {
        char folder[] = "/tmp/nbrelay.XXXXXX";
        folder_ = mkdtemp(folder);
        path_ = folder_ + "/ctl";
        sockaddr_un address = addressOf(path_);
        listenFd_ = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
        EXPECT_EQ(bind(listenFd_, reinterpret_cast<const sockaddr*>(&address), sizeof address), 0);
        EXPECT_EQ(listen(listenFd_, 64), 0);
        stopFd_ = eventfd(0, EFD_CLOEXEC);
        thread_ = std::thread([this] { run(); });
    }
    ~CountingRelay() {
        uint64_t one = 1;
        [[maybe_unused]] ssize_t written = write(stopFd_, &one, sizeof one);
        thread_.join();
        close(stopFd_);
        close(listenFd_);
        unlink(path_.c_str());
        rmdir(folder_.c_str());
    }
    CountingRelay(const CountingRelay&) = delete;
    CountingRelay& operator=(const CountingRelay&) = delete;

    const std::string& path() const { return path_; }
    // The requests with `code` relayed so far.
    int count(uint32_t code) {
        std::lock_guard guard(lock_);
        return counts_[code];
    }

  private:
    // One relayed connection: the client's end and the daemon's.
    struct Pair {
        int client = -1;
        int daemon = -1;
        std::vector<uint8_t> header;  // the request header, until it is complete
    };

    static sockaddr_un addressOf(const std::string& path) {
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        std::strncpy(address.sun_path, path.c_str(), sizeof(address.sun_path) - 1);
        return address;
    }

    void run() {
        std::vector<Pair> pairs;
        for (;;) {
            std::vector<pollfd> fds = {{stopFd_, POLLIN, 0}, {listenFd_, POLLIN, 0}};
            for (const Pair& pair : pairs) {
                fds.push_back({pair.client, POLLIN, 0});
                fds.push_back({pair.daemon, POLLIN, 0});
            }
            if (poll(fds.data(), fds.size(), -1) < 0) continue;
            if (fds[0].revents != 0) break;
            // Pairs accepted now were not polled: only the others are served.
            const size_t polled = pairs.size();
            if (fds[1].revents != 0) accept(pairs);
            // Backwards, so that a closed pair can be erased in place.
            for (size_t i = polled; i-- > 0;) {
                const pollfd& client = fds[2 + 2 * i];
                const pollfd& daemon = fds[3 + 2 * i];
                bool open = true;
                if (client.revents != 0) open = relay(pairs[i], pairs[i].client, pairs[i].daemon);
                if (open && daemon.revents != 0)
                    open = relay(pairs[i], pairs[i].daemon, pairs[i].client);
                if (!open) {
                    close(pairs[i].client);
                    close(pairs[i].daemon);
                    pairs.erase(pairs.begin() + static_cast<std::ptrdiff_t>(i));
                }
            }
        }
        for (const Pair& pair : pairs) {
            close(pair.client);
            close(pair.daemon);
        }
    }

    void accept(std::vector<Pair>& pairs) {
        Pair pair;
        pair.client = accept4(listenFd_, nullptr, nullptr, SOCK_CLOEXEC);
        if (pair.client < 0) return;
        pair.daemon = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_un address = addressOf(target_);
        if (connect(pair.daemon, reinterpret_cast<const sockaddr*>(&address), sizeof address) !=
            0) {
            close(pair.client);
            close(pair.daemon);
            return;
        }
        pairs.push_back(std::move(pair));
    }

    // Moves what `from` has to `to`; false once either end is closed.
    bool relay(Pair& pair, int from, int to) {
        uint8_t bytes[65536];
        const ssize_t got = recv(from, bytes, sizeof bytes, 0);
        if (got <= 0) return false;
        if (from == pair.client && pair.header.size() < wire::kHeaderSize) {
            const size_t take =
                std::min(wire::kHeaderSize - pair.header.size(), static_cast<size_t>(got));
            pair.header.insert(pair.header.end(), bytes, bytes + take);
            if (pair.header.size() == wire::kHeaderSize) {
                if (auto request = wire::decodeRequestHeader(pair.header.data())) {
                    std::lock_guard guard(lock_);
                    ++counts_[request->code];
                }
            }
        }
        return send(to, bytes, static_cast<size_t>(got), MSG_NOSIGNAL) == got;
    }

    std::string target_;
    std::string folder_, path_;
    int listenFd_ = -1;
    int stopFd_ = -1;
    std::thread thread_;
    std::mutex lock_;
    std::map<uint32_t, int> counts_;
};

}  // namespace nettlebeam::apitest
