// Test support: a one-shot server on a temporary control socket whose
// behaviour with the one connection it accepts is scripted by the test.
#pragma once

#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <functional>
#include <string>
#include <thread>

namespace nettlebeam::wire {

// The script gets the accepted connection, which is closed after it returns.
class ScriptedServer {
  public:
    using Script = std::function<void(int fd)>;
    explicit ScriptedServer(Script script) {
        char folder[] = "/tmp/nbwire.XXXXXX";
        folder_ = mkdtemp(folder);
        path_ = folder_ + "/ctl";
        listenFd_ = socket(AF_UNIX, SOCK_STREAM, 0);
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        std::strcpy(address.sun_path, path_.c_str());
        EXPECT_EQ(bind(listenFd_, reinterpret_cast<sockaddr*>(&address), sizeof(address)), 0);
        EXPECT_EQ(listen(listenFd_, 4), 0);
        thread_ = std::thread([this, script] {
            int fd = accept(listenFd_, nullptr, nullptr);
            if (fd < 0) return;
            script(fd);
            close(fd);
        });
    }
    ~ScriptedServer() {
        shutdown(listenFd_, SHUT_RDWR);
        thread_.join();
        close(listenFd_);
        unlink(path_.c_str());
        rmdir(folder_.c_str());
    }
    const std::string& path() const { return path_; }

  private:
    std::string folder_, path_;
    int listenFd_ = -1;
    std::thread thread_;
};

}  // namespace nettlebeam::wire
