#include <gtest/gtest.h>
#include <signal.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <thread>
#include <vector>

#include "client.h"
#include "control_path.h"
#include "control_trust.h"
#include "frame.h"
#include "scripted_server.h"

using namespace nettlebeam::wire;

namespace {

RequestHeader readRequest(int fd, std::vector<uint8_t>* input) {
    uint8_t header[kHeaderSize];
    EXPECT_EQ(recv(fd, header, kHeaderSize, MSG_WAITALL), static_cast<ssize_t>(kHeaderSize));
    auto request = decodeRequestHeader(header);
    EXPECT_TRUE(request.has_value());
    if (!request) return {};
    input->resize(request->inputLength);
    if (request->inputLength > 0) {
        EXPECT_EQ(recv(fd, input->data(), input->size(), MSG_WAITALL),
                  static_cast<ssize_t>(input->size()));
    }
    return *request;
}

bool mentions(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

void sendReply(int fd, int32_t result, const std::vector<uint8_t>& bytes, uint32_t length) {
    uint8_t header[kHeaderSize];
    encodeReplyHeader({result, length}, header);
    send(fd, header, kHeaderSize, MSG_NOSIGNAL);
    if (!bytes.empty()) send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL);
}

}  // namespace

TEST(WireFrame, RequestHeaderRoundTripAndLimits) {
    uint8_t bytes[kHeaderSize];
    encodeRequestHeader({0xCB202030, 4, 19}, bytes);
    auto decoded = decodeRequestHeader(bytes);
    ASSERT_TRUE(decoded);
    EXPECT_EQ(decoded->code, 0xCB202030u);
    EXPECT_EQ(decoded->inputLength, 4u);
    EXPECT_EQ(decoded->outputCapacity, 19u);

    encodeRequestHeader({1, kMaxInputBytes + 1, 0}, bytes);
    EXPECT_FALSE(decodeRequestHeader(bytes));
    encodeRequestHeader({1, 0, kMaxOutputBytes + 1}, bytes);
    EXPECT_FALSE(decodeRequestHeader(bytes));
    encodeRequestHeader({1, 0, kMaxOutputBytes}, bytes);
    EXPECT_TRUE(decodeRequestHeader(bytes));
    bytes[0] ^= 1;
    EXPECT_FALSE(decodeRequestHeader(bytes));
}

TEST(WireFrame, ReplyHeaderMustAgreeWithResultAndCapacity) {
    uint8_t bytes[kHeaderSize];
    encodeReplyHeader({19, 19}, bytes);
    EXPECT_TRUE(decodeReplyHeader(bytes, 19));
    EXPECT_FALSE(decodeReplyHeader(bytes, 18)) << "more bytes than the caller offered";
    encodeReplyHeader({19, 18}, bytes);
    EXPECT_FALSE(decodeReplyHeader(bytes, 64)) << "length and result disagree";
    encodeReplyHeader({kDriverFailed, 0}, bytes);
    auto failed = decodeReplyHeader(bytes, 0);
    ASSERT_TRUE(failed);
    EXPECT_EQ(failed->result, kDriverFailed);
    encodeReplyHeader({kDriverFailed, 4}, bytes);
    EXPECT_FALSE(decodeReplyHeader(bytes, 64)) << "a failure carries no bytes";
}

TEST(WireControlPath, EnvironmentOrder) {
    const char* saved = std::getenv("NETTLEBEAM_CONTROL");
    std::string savedValue = saved ? saved : "";
    setenv("NETTLEBEAM_CONTROL", "/x/ctl", 1);
    EXPECT_EQ(controlPath(), "/x/ctl");
    setenv("NETTLEBEAM_CONTROL", "", 1);
    setenv("XDG_RUNTIME_DIR", "/run/user/7", 1);
    EXPECT_EQ(controlPath(), "/run/user/7/nettlebeam/KV7Control");
    unsetenv("XDG_RUNTIME_DIR");
    EXPECT_EQ(controlPath(), "/tmp/nettlebeam-" + std::to_string(getuid()) + "/KV7Control");
    if (saved) {
        setenv("NETTLEBEAM_CONTROL", savedValue.c_str(), 1);
    } else {
        unsetenv("NETTLEBEAM_CONTROL");
    }
}

TEST(WireClient, CarriesInputAndReturnsReplyBytes) {
    std::vector<uint8_t> received;
    ScriptedServer server([&](int fd) {
        readRequest(fd, &received);
        sendReply(fd, 3, {7, 8, 9}, 3);
    });
    const uint8_t input[] = {1, 0, 0, 0, 0xAA};
    uint8_t output[8] = {};
    EXPECT_EQ(transact(server.path(), 0xCB202028, input, sizeof input, output, sizeof output), 3);
    EXPECT_EQ(received, std::vector<uint8_t>(input, input + sizeof input));
    EXPECT_EQ(output[0], 7);
    EXPECT_EQ(output[2], 9);
}

TEST(WireClient, FailuresMapToTransportResults) {
    EXPECT_EQ(transact("/nonexistent/nettlebeam/ctl", 1, nullptr, 0, nullptr, 0), kCannotOpen);
    EXPECT_EQ(transact(std::string(200, 'x'), 1, nullptr, 0, nullptr, 0), kCannotOpen);

    ScriptedServer refusing([](int fd) {
        std::vector<uint8_t> in;
        readRequest(fd, &in);
        sendReply(fd, kDriverFailed, {}, 0);
    });
    EXPECT_EQ(transact(refusing.path(), 1, nullptr, 0, nullptr, 0), kDriverFailed);

    ScriptedServer truncating([](int fd) {
        std::vector<uint8_t> in;
        readRequest(fd, &in);
        sendReply(fd, 8, {1, 2, 3}, 8);  // announces 8 bytes, sends 3, hangs up
    });
    uint8_t output[8];
    EXPECT_EQ(transact(truncating.path(), 1, nullptr, 0, output, sizeof output), kDriverFailed);

    ScriptedServer oversized([](int fd) {
        std::vector<uint8_t> in;
        readRequest(fd, &in);
        sendReply(fd, 16, std::vector<uint8_t>(16, 0xEE), 16);
    });
    uint8_t small[4] = {};
    EXPECT_EQ(transact(oversized.path(), 1, nullptr, 0, small, sizeof small), kDriverFailed);
    EXPECT_EQ(small[0], 0) << "nothing beyond the offered capacity is written";
}

TEST(WireClient, CancelAbandonsABlockedWait) {
    std::atomic<bool> release{false};
    ScriptedServer silent([&](int fd) {
        std::vector<uint8_t> in;
        readRequest(fd, &in);
        while (!release) std::this_thread::sleep_for(std::chrono::milliseconds(5));
    });
    int cancel = eventfd(0, EFD_CLOEXEC);
    std::thread canceller([cancel] {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        uint64_t one = 1;
        EXPECT_EQ(write(cancel, &one, sizeof one), 8);
    });
    uint8_t record[4108];
    EXPECT_EQ(transact(silent.path(), 0xCB203400, nullptr, 0, record, sizeof record, cancel,
                       nullptr, ReplyWait::LongPoll),
              kDriverFailed);
    canceller.join();
    release = true;
    close(cancel);
}

// A driver that is stopped or a process that takes connections and never
// reads or answers: every request ends with a transport failure of its own
// and says why, instead of waiting for ever.
TEST(WireClient, ARequestNobodyAnswersIsGivenUp) {
    std::atomic<bool> release{false};
    ScriptedServer silent([&](int) {
        while (!release) std::this_thread::sleep_for(std::chrono::milliseconds(5));
    });
    const uint8_t input[] = {1, 0, 0, 0};
    uint8_t output[8] = {};
    std::string why;
    EXPECT_EQ(
        transact(silent.path(), 0xCB202028, input, sizeof input, output, sizeof output, -1, &why),
        kDriverFailed);
    EXPECT_TRUE(mentions(why, "no answer within")) << why;
    release = true;
}

TEST(WireClient, AConnectionNobodyTakesIsGivenUp) {
    char folder[] = "/tmp/nbwire.XXXXXX";
    ASSERT_NE(mkdtemp(folder), nullptr);
    const std::string path = std::string(folder) + "/ctl";
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::strcpy(address.sun_path, path.c_str());
    // Listening with no room for waiting connections, never accepting: once
    // one connection waits, every further one would block in connect.
    const int listener = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    ASSERT_EQ(bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    ASSERT_EQ(listen(listener, 0), 0);
    const int waiting = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    ASSERT_EQ(connect(waiting, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);

    std::string why;
    EXPECT_EQ(transact(path, 1, nullptr, 0, nullptr, 0, -1, &why), kCannotOpen);
    EXPECT_TRUE(mentions(why, "not taken")) << why;
    close(waiting);
    close(listener);
    unlink(path.c_str());
    rmdir(folder);
}

namespace {

constexpr uid_t kOtherUser = 65534;

struct stat statOf(mode_t mode, uid_t owner) {
    struct stat info {};
    info.st_mode = mode;
    info.st_uid = owner;
    return info;
}

// Listens on `path` as kOtherUser in a child process; returns its pid.
pid_t listenAsOtherUser(const std::string& path) {
    int ready[2];
    if (pipe(ready) != 0) return -1;
    const pid_t child = fork();
    if (child == 0) {
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        std::strcpy(address.sun_path, path.c_str());
        const int fd = socket(AF_UNIX, SOCK_STREAM, 0);
        if (setgid(kOtherUser) != 0 || setuid(kOtherUser) != 0 ||
            bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof(address)) != 0 ||
            listen(fd, 4) != 0)
            _exit(1);
        if (write(ready[1], "x", 1) != 1) _exit(1);
        for (;;) close(accept(fd, nullptr, nullptr));
    }
    close(ready[1]);
    char byte = 0;
    const bool up = child > 0 && read(ready[0], &byte, 1) == 1;
    close(ready[0]);
    return up ? child : -1;
}

}  // namespace

TEST(WireTrust, WhatLstatAndPeerCredentialsMustShow) {
    const uid_t me = 1000;
    EXPECT_EQ(untrustedChosenFolder(statOf(S_IFDIR | 0755, me), me), "");
    EXPECT_EQ(untrustedChosenFolder(statOf(S_IFDIR | 01777, 0), me), "") << "like /tmp";
    EXPECT_TRUE(mentions(untrustedChosenFolder(statOf(S_IFDIR | 0777, 0), me), "sticky"));
    EXPECT_TRUE(mentions(untrustedChosenFolder(statOf(S_IFDIR | 0700, 1001), me), "uid 1001"));
    EXPECT_TRUE(mentions(untrustedChosenFolder(statOf(S_IFLNK | 0777, me), me), "symbolic link"));

    EXPECT_EQ(untrustedPrivateFolder(statOf(S_IFDIR | 0700, me), me), "");
    EXPECT_TRUE(mentions(untrustedPrivateFolder(statOf(S_IFDIR | 0701, me), me), "0701"));
    EXPECT_TRUE(mentions(untrustedPrivateFolder(statOf(S_IFDIR | 0700, 0), me), "uid 0"))
        << "the user's own folder, not root's";
    EXPECT_TRUE(mentions(untrustedPrivateFolder(statOf(S_IFLNK | 0700, me), me), "symbolic"));
    EXPECT_TRUE(mentions(untrustedPrivateFolder(statOf(S_IFREG | 0600, me), me), "not a folder"));

    EXPECT_EQ(untrustedDataFolder(statOf(S_IFDIR | 0755, me), me), "") << "others may read it";
    EXPECT_TRUE(mentions(untrustedDataFolder(statOf(S_IFDIR | 0775, me), me), "0775"));
    EXPECT_TRUE(mentions(untrustedDataFolder(statOf(S_IFDIR | 01777, me), me), "1777"));
    EXPECT_TRUE(mentions(untrustedDataFolder(statOf(S_IFDIR | 0700, 0), me), "uid 0"));
    EXPECT_TRUE(mentions(untrustedDataFolder(statOf(S_IFLNK | 0700, me), me), "symbolic"));

    EXPECT_EQ(untrustedSocket(statOf(S_IFSOCK | 0600, me), me), "");
    EXPECT_EQ(untrustedSocket(statOf(S_IFSOCK | 0600, 0), me), "");
    EXPECT_TRUE(mentions(untrustedSocket(statOf(S_IFSOCK | 0600, 1001), me), "uid 1001"));
    EXPECT_FALSE(untrustedSocket(statOf(S_IFLNK | 0777, me), me).empty());
    EXPECT_EQ(untrustedPeer(me, me), "");
    EXPECT_EQ(untrustedPeer(0, me), "");
    EXPECT_TRUE(mentions(untrustedPeer(1001, me), "uid 1001"));
}

TEST(WireTrust, ClientsRefuseASocketOrAListenerOfAnotherUser) {
    ASSERT_EQ(geteuid(), 0u) << "this test acts as another user and must run as root";
    auto answering = [](int fd) {
        std::vector<uint8_t> in;
        readRequest(fd, &in);
        sendReply(fd, 0, {}, 0);
    };
    ScriptedServer theirs(answering);
    ASSERT_EQ(chown(theirs.path().c_str(), kOtherUser, kOtherUser), 0);
    std::string why;
    EXPECT_EQ(transact(theirs.path(), 1, nullptr, 0, nullptr, 0, -1, &why), kCannotOpen);
    EXPECT_TRUE(mentions(why, "belongs to uid 65534")) << why;
    ScriptedServer ours(answering);
    EXPECT_EQ(transact(ours.path(), 1, nullptr, 0, nullptr, 0), 0) << "root's own socket";

    // A socket file that looks right, with another user's process behind it.
    char folder[] = "/tmp/nbtrust.XXXXXX";
    ASSERT_NE(mkdtemp(folder), nullptr);
    ASSERT_EQ(chown(folder, kOtherUser, kOtherUser), 0);
    const std::string path = std::string(folder) + "/ctl";
    const pid_t listener = listenAsOtherUser(path);
    ASSERT_GT(listener, 0);
    EXPECT_EQ(chown(path.c_str(), 0, 0), 0);
    why.clear();
    EXPECT_EQ(transact(path, 1, nullptr, 0, nullptr, 0, -1, &why), kCannotOpen);
    EXPECT_TRUE(mentions(why, "runs as uid 65534")) << why;
    kill(listener, SIGKILL);
    waitpid(listener, nullptr, 0);
    unlink(path.c_str());
    rmdir(folder);
}
