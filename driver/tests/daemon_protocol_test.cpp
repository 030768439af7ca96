// The control socket against a running daemon: framing, validation, faults
// and clients that misbehave.
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstring>
#include <thread>

#include "client.h"
#include "frame.h"
#include "nettlebeam_testsupport.h"

namespace nettlebeam {
namespace {

using testsupport::Daemon;

constexpr uint32_t kEnumerate = 0xCB202000;
constexpr uint32_t kHardwareId = 0xCB202020;
constexpr uint32_t kVersions = 0xCB20201C;
constexpr uint32_t kWriteConfig = 0xCB202008;
constexpr uint32_t kReadConfig = 0xCB20200C;
constexpr uint32_t kCaptureStatus = 0xCB202820;
constexpr uint32_t kFirmwareBlock = 0xCB202410;
constexpr uint32_t kCaptureName = 0xCB202808;

int connectTo(const std::string& path) {
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::strncpy(address.sun_path, path.c_str(), sizeof(address.sun_path) - 1);
    int fd = socket(AF_UNIX, SOCK_STREAM, 0);
    if (connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof(address)) != 0) {
        close(fd);
        return -1;
    }
    return fd;
}

// Sends raw bytes on a fresh connection and returns everything the daemon
// sends back before it closes.
std::vector<uint8_t> rawExchange(const std::string& path, const std::vector<uint8_t>& bytes) {
    int fd = connectTo(path);
    EXPECT_GE(fd, 0);
    // The daemon may close a garbage connection before it has read everything,
    // so a short send is fine; what it sends back is what the tests judge.
    EXPECT_GT(send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL), 0);
    std::vector<uint8_t> reply;
    pollfd polled{fd, POLLIN, 0};
    while (poll(&polled, 1, 10000) > 0) {
        uint8_t buffer[4096];
        ssize_t got = recv(fd, buffer, sizeof(buffer), 0);
        if (got <= 0) break;
        reply.insert(reply.end(), buffer, buffer + got);
    }
    close(fd);
    return reply;
}

std::vector<uint8_t> header(uint32_t code, uint32_t inputLength, uint32_t capacity) {
    std::vector<uint8_t> bytes(wire::kHeaderSize);
    wire::encodeRequestHeader({code, inputLength, capacity}, bytes.data());
    return bytes;
}

std::vector<uint8_t> withHandle(int32_t handle, std::vector<uint8_t> payload = {}) {
    auto value = static_cast<uint32_t>(handle);
    payload.insert(payload.begin(),
                   {static_cast<uint8_t>(value), static_cast<uint8_t>(value >> 8),
                    static_cast<uint8_t>(value >> 16), static_cast<uint8_t>(value >> 24)});
    return payload;
}

int32_t call(const Daemon& daemon, uint32_t code, const std::vector<uint8_t>& input,
             uint32_t capacity, std::vector<uint8_t>* out = nullptr) {
    std::vector<uint8_t> buffer(capacity);
    int32_t result = wire::transact(daemon.controlPath(), code, input.data(),
                                    static_cast<uint32_t>(input.size()), buffer.data(), capacity);
    if (out) *out = std::vector<uint8_t>(buffer.begin(), buffer.begin() + std::max(result, 0));
    return result;
}

class DaemonProtocol : public ::testing::Test {
  protected:
    Daemon daemon;
    int handle = daemon.attach({"--type", "12"});
};

TEST_F(DaemonProtocol, ValidRequestsAreAnswered) {
    std::vector<uint8_t> out;
    ASSERT_EQ(call(daemon, kHardwareId, withHandle(handle), 1, &out), 1);
    EXPECT_EQ(out[0], 0x4F);
    EXPECT_EQ(call(daemon, kVersions, withHandle(handle), 12), 12);
    EXPECT_EQ(call(daemon, kCaptureStatus, withHandle(handle), 8256), 8256);
    // A larger buffer than needed is fine; the reply keeps its size.
    EXPECT_EQ(call(daemon, kVersions, withHandle(handle), 4096), 12);
    ASSERT_EQ(call(daemon, kEnumerate, {}, 80, &out), 4);
    EXPECT_EQ(out, withHandle(handle));
}

TEST_F(DaemonProtocol, MalformedRequestsFailWithoutHarm) {
    std::vector<uint8_t> config(32, 0xA5);
    ASSERT_EQ(call(daemon, kWriteConfig, withHandle(handle, config), 0), 0);

    // Unknown code, unknown handle, no handle, wrong lengths, small buffers.
    EXPECT_EQ(call(daemon, 0xCB202018, withHandle(handle), 64), wire::kDriverFailed);
    EXPECT_EQ(call(daemon, 0x12345678, withHandle(handle), 64), wire::kDriverFailed);
    EXPECT_EQ(call(daemon, kHardwareId, withHandle(handle + 100), 1), wire::kDriverFailed);
    EXPECT_EQ(call(daemon, kHardwareId, {1, 0}, 1), wire::kDriverFailed);
    EXPECT_EQ(call(daemon, kHardwareId, {}, 1), wire::kDriverFailed);
    EXPECT_EQ(call(daemon, kHardwareId, withHandle(handle, {0}), 1), wire::kDriverFailed);
    EXPECT_EQ(call(daemon, kWriteConfig, withHandle(handle, std::vector<uint8_t>(31, 0)), 0),
              wire::kDriverFailed);
    EXPECT_EQ(call(daemon, kWriteConfig, withHandle(handle, std::vector<uint8_t>(33, 0)), 0),
              wire::kDriverFailed);
    EXPECT_EQ(call(daemon, kVersions, withHandle(handle), 11), wire::kDriverFailed);
    EXPECT_EQ(call(daemon, kCaptureStatus, withHandle(handle), 8255), wire::kDriverFailed);
    EXPECT_EQ(call(daemon, kFirmwareBlock, withHandle(handle), 0), wire::kDriverFailed);
    EXPECT_EQ(call(daemon, kFirmwareBlock, withHandle(handle, std::vector<uint8_t>(509, 1)), 0),
              wire::kDriverFailed);
    EXPECT_EQ(call(daemon, kCaptureName, withHandle(handle, {'a', 0, 'b', 0}), 0),
              wire::kDriverFailed);
    EXPECT_EQ(call(daemon, kCaptureName, withHandle(handle, {'a', 0, 0}), 0), wire::kDriverFailed);
    EXPECT_EQ(call(daemon, kEnumerate, withHandle(handle), 80), wire::kDriverFailed);
    EXPECT_EQ(call(daemon, kEnumerate, {}, 3), wire::kDriverFailed);
    EXPECT_EQ(call(daemon, 0xCB203400, {}, 4107), wire::kDriverFailed);

    // None of it touched the device's state.
    std::vector<uint8_t> out;
    ASSERT_EQ(call(daemon, kReadConfig, withHandle(handle), 32, &out), 32);
    EXPECT_EQ(out, config);
}

TEST_F(DaemonProtocol, GarbageAndHugeLengthsCloseOnlyThatConnection) {
    std::vector<uint8_t> badMagic = header(kHardwareId, 4, 1);
    badMagic[0] ^= 0xFF;
    EXPECT_TRUE(rawExchange(daemon.controlPath(), badMagic).empty());
    EXPECT_TRUE(rawExchange(daemon.controlPath(), header(kHardwareId, 0x7FFFFFFF, 1)).empty());
    EXPECT_TRUE(rawExchange(daemon.controlPath(), header(kHardwareId, 4, 0xFFFFFFFF)).empty());
    std::vector<uint8_t> noise(100000);
    for (size_t i = 0; i < noise.size(); ++i) noise[i] = static_cast<uint8_t>(i * 7919);
    EXPECT_TRUE(rawExchange(daemon.controlPath(), noise).size() <= wire::kHeaderSize);

    // A request answered on a raw connection carries a proper failure header.
    auto reply = rawExchange(daemon.controlPath(), header(0x1, 0, 0));
    ASSERT_EQ(reply.size(), wire::kHeaderSize);
    auto decoded = wire::decodeReplyHeader(reply.data(), 0);
    ASSERT_TRUE(decoded);
    EXPECT_EQ(decoded->result, wire::kDriverFailed);

    EXPECT_EQ(call(daemon, kHardwareId, withHandle(handle), 1), 1);
}

TEST_F(DaemonProtocol, StalledAndVanishingClientsDoNotBlockOthers) {
    // One client sends half a header and stops; another leaves with its input unsent.
    int stalled = connectTo(daemon.controlPath());
    auto partial = header(kHardwareId, 4, 1);
    ASSERT_EQ(send(stalled, partial.data(), 8, 0), 8);
    int leaving = connectTo(daemon.controlPath());
    ASSERT_EQ(send(leaving, partial.data(), partial.size(), 0), 16);
    close(leaving);
    EXPECT_EQ(call(daemon, kHardwareId, withHandle(handle), 1), 1);

    // The stalled one is dropped after the read deadline.
    pollfd polled{stalled, POLLIN, 0};
    ASSERT_EQ(poll(&polled, 1, 15000), 1);
    uint8_t scrap;
    EXPECT_EQ(recv(stalled, &scrap, 1, 0), 0);
    close(stalled);
}

TEST_F(DaemonProtocol, InjectedFaultsApplyToTheNextRequestsOnly) {
    std::vector<uint8_t> out;
    daemon.inject({std::to_string(handle), "0xCB202020", "--fail", "--times", "2"});
    EXPECT_EQ(call(daemon, kHardwareId, withHandle(handle), 1), wire::kDriverFailed);
    EXPECT_EQ(call(daemon, kHardwareId, withHandle(handle), 1), wire::kDriverFailed);
    EXPECT_EQ(call(daemon, kHardwareId, withHandle(handle), 1), 1);

    daemon.inject({std::to_string(handle), "0xCB202030", "--reply-hex", "fe00"});
    ASSERT_EQ(call(daemon, 0xCB202030, withHandle(handle), 19, &out), 2);
    EXPECT_EQ(out, (std::vector<uint8_t>{0xFE, 0x00}));
    EXPECT_EQ(call(daemon, 0xCB202030, withHandle(handle), 19), 19);

    daemon.inject({std::to_string(handle), "0xCB20201C", "--reply-bytes", "0"});
    EXPECT_EQ(call(daemon, kVersions, withHandle(handle), 12), 0);

    daemon.inject({"any", "0xCB202000", "--reply-hex", "0100000002000000"});
    ASSERT_EQ(call(daemon, kEnumerate, {}, 80, &out), 8);
    EXPECT_EQ(out[4], 2);

    // Faults for one device leave another alone; unknown targets are refused.
    int other = daemon.attach({"--type", "13"});
    daemon.inject({std::to_string(handle), "0xCB202020", "--fail"});
    EXPECT_EQ(call(daemon, kHardwareId, withHandle(other), 1), 1);
    EXPECT_NE(daemon.run({"inject", "999", "0xCB202020", "--fail"}).exitStatus, 0);
    EXPECT_NE(daemon.run({"inject", "any", "0xCB202020"}).exitStatus, 0);
    EXPECT_NE(
        daemon.run({"inject", "any", "0xCB202020", "--fail", "--reply-bytes", "1"}).exitStatus, 0);
}

TEST(DaemonSocket, PermissionsStaleSocketsAndASecondDaemon) {
    Daemon daemon;
    struct stat info {};
    ASSERT_EQ(stat(daemon.controlPath().c_str(), &info), 0);
    EXPECT_TRUE(S_ISSOCK(info.st_mode));
    EXPECT_EQ(info.st_mode & 0777, 0600u);

    // Another daemon on the same path is refused with one line.
    auto second =
        testsupport::runProcess({Daemon::binaryPath(), "serve", "--control", daemon.controlPath()},
                                std::chrono::seconds(10));
    EXPECT_NE(second.exitStatus, 0);
    EXPECT_NE(second.err.find("already"), std::string::npos) << second.err;
    EXPECT_EQ(std::count(second.err.begin(), second.err.end(), '\n'), 1);

    // The socket goes with the daemon.
    daemon.stop();
    EXPECT_NE(access(daemon.controlPath().c_str(), F_OK), 0);

    // A fresh folder is created private; a stale socket file is replaced.
    std::string nested = daemon.folder() + "/run/sub/KV7Control";
    int stale = socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::strncpy(address.sun_path, daemon.controlPath().c_str(), sizeof(address.sun_path) - 1);
    ASSERT_EQ(bind(stale, reinterpret_cast<sockaddr*>(&address), sizeof(address)), 0);
    close(stale);
    daemon.restart();
    EXPECT_EQ(call(daemon, kEnumerate, {}, 80), 0);

    auto background = testsupport::runProcess(
        {Daemon::binaryPath(), "serve", "--daemon", "--control", nested}, std::chrono::seconds(10));
    ASSERT_EQ(background.exitStatus, 0) << background.err;
    ASSERT_EQ(stat((daemon.folder() + "/run/sub").c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0700u);
    auto stop = testsupport::runProcess({Daemon::binaryPath(), "stop", "--control", nested});
    EXPECT_EQ(stop.exitStatus, 0) << stop.err;
    EXPECT_NE(access(nested.c_str(), F_OK), 0);
}

}  // namespace
}  // namespace nettlebeam
