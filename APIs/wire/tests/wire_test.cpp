#include <gtest/gtest.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <thread>
#include <vector>

#include "client.h"
#include "control_path.h"
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
    EXPECT_EQ(transact(silent.path(), 0xCB203400, nullptr, 0, record, sizeof record, cancel),
              kDriverFailed);
    canceller.join();
    release = true;
    close(cancel);
}
