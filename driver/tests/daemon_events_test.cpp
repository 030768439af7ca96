// Events per client process, device restarts, and the daemon's commands.
#include <gtest/gtest.h>
#include <linux/sockios.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <fstream>
#include <thread>

#include "client.h"
#include "frame.h"
#include "nettlebeam_testsupport.h"

namespace nettlebeam {
namespace {

using testsupport::Daemon;

constexpr uint32_t kEnumerate = 0xCB202000;
constexpr uint32_t kEventWait = 0xCB203400;

uint32_t u32At(const uint8_t* bytes) {
    uint32_t value;
    std::memcpy(&value, bytes, 4);
    return value;
}

struct Event {
    int32_t result = 0;
    uint32_t kind = 0;
    uint32_t handle = 0;   // bytes 0-3
    uint32_t subject = 0;  // bytes 12-15
};

Event waitEvent(const std::string& path) {
    std::vector<uint8_t> record(4108);
    Event event;
    event.result = wire::transact(path, kEventWait, nullptr, 0, record.data(), 4108);
    if (event.result == 4108) {
        event.handle = u32At(&record[0]);
        event.kind = u32At(&record[4]);
        event.subject = u32At(&record[12]);
    }
    return event;
}

int32_t enumerate(const std::string& path) {
    std::vector<uint8_t> handles(80);
    return wire::transact(path, kEnumerate, nullptr, 0, handles.data(), 80);
}

// Another client process: it enumerates, says so on a pipe, then waits for
// `events` events and writes each back as an Event.
class ClientProcess {
  public:
    ClientProcess(const std::string& path, int events) {
        int ready[2], results[2];
        EXPECT_EQ(pipe(ready), 0);
        EXPECT_EQ(pipe(results), 0);
        pid_ = fork();
        if (pid_ == 0) {
            close(ready[0]);
            close(results[0]);
            enumerate(path);
            char one = 1;
            if (write(ready[1], &one, 1) != 1) _exit(1);
            for (int i = 0; i < events; ++i) {
                Event event = waitEvent(path);
                if (write(results[1], &event, sizeof(event)) != sizeof(event)) _exit(1);
            }
            _exit(0);
        }
        close(ready[1]);
        close(results[1]);
        char one;
        EXPECT_EQ(read(ready[0], &one, 1), 1);
        close(ready[0]);
        resultsFd_ = results[0];
    }
    ~ClientProcess() {
        kill(pid_, SIGKILL);
        waitpid(pid_, nullptr, 0);
        close(resultsFd_);
    }
    Event next() {
        Event event;
        event.result = -100;
        if (read(resultsFd_, &event, sizeof(event)) != sizeof(event)) event.result = -100;
        return event;
    }

  private:
    pid_t pid_ = -1;
    int resultsFd_ = -1;
};

TEST(DaemonEvents, EveryWaitingProcessSeesEachEventInOrder) {
    Daemon daemon;
    ClientProcess first(daemon.controlPath(), 3);
    ClientProcess second(daemon.controlPath(), 3);
    int handle = daemon.attach({"--type", "5"});
    daemon.event({"4", std::to_string(handle), "--word", "1", "--error", "2"});
    daemon.detach(handle);
    for (ClientProcess* client : {&first, &second}) {
        Event arrival = client->next();
        ASSERT_EQ(arrival.result, 4108);
        EXPECT_EQ(arrival.kind, 2u);
        EXPECT_EQ(arrival.subject, static_cast<uint32_t>(handle));
        Event state = client->next();
        EXPECT_EQ(state.kind, 4u);
        EXPECT_EQ(state.handle, static_cast<uint32_t>(handle));
        EXPECT_EQ(state.subject, 1u);
        Event removal = client->next();
        EXPECT_EQ(removal.kind, 3u);
        EXPECT_EQ(removal.subject, static_cast<uint32_t>(handle));
    }
}

TEST(DaemonEvents, DevicesAttachedBeforeTheFirstEnumerationAreNotReplayed) {
    Daemon daemon;
    int before = daemon.attach({"--type", "13"});
    ASSERT_EQ(enumerate(daemon.controlPath()), 4);
    int after = daemon.attach({"--type", "13"});
    EXPECT_GT(after, before);
    Event event = waitEvent(daemon.controlPath());
    ASSERT_EQ(event.result, 4108);
    EXPECT_EQ(event.subject, static_cast<uint32_t>(after));
}

TEST(DaemonEvents, AWaitParksUntilAnEventArrives) {
    Daemon daemon;
    ASSERT_EQ(enumerate(daemon.controlPath()), 0);
    // The wait on a socket of the test's own, so it can tell when the
    // daemon has taken the request: nothing of it is left unread, and a
    // later request has been answered. Only then is its silence a park.
    const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::strncpy(address.sun_path, daemon.controlPath().c_str(), sizeof(address.sun_path) - 1);
    ASSERT_EQ(connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof(address)), 0);
    uint8_t request[wire::kHeaderSize];
    wire::encodeRequestHeader({kEventWait, 0, 4108}, request);
    ASSERT_EQ(send(fd, request, sizeof request, MSG_NOSIGNAL),
              static_cast<ssize_t>(sizeof request));
    int unread = 1;
    for (int i = 0; i < 3000 && unread != 0; ++i) {
        ASSERT_EQ(ioctl(fd, SIOCOUTQ, &unread), 0);
        if (unread != 0) std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    ASSERT_EQ(unread, 0) << "the daemon never read the wait";
    ASSERT_EQ(daemon.run({"devices"}).exitStatus, 0);
    pollfd polled{fd, POLLIN, 0};
    EXPECT_EQ(poll(&polled, 1, 0), 0) << "answered without an event";

    daemon.event({"1", "7", "--name", "/tmp/capture_1.pcap"});
    ASSERT_EQ(poll(&polled, 1, 30000), 1) << "the event never came";
    uint8_t reply[wire::kHeaderSize];
    ASSERT_EQ(recv(fd, reply, sizeof reply, MSG_WAITALL), static_cast<ssize_t>(sizeof reply));
    auto header = wire::decodeReplyHeader(reply, 4108);
    ASSERT_TRUE(header.has_value());
    ASSERT_EQ(header->result, 4108);
    std::vector<uint8_t> record(4108);
    ASSERT_EQ(recv(fd, record.data(), record.size(), MSG_WAITALL), 4108);
    close(fd);
    EXPECT_EQ(u32At(&record[4]), 1u);
    EXPECT_EQ(u32At(&record[0]), 7u);
    EXPECT_EQ(u32At(&record[12]) & 0xFFFF, static_cast<uint32_t>('/'));
}

TEST(DaemonEvents, AnOverflowingQueueFailsTheNextWaitOnly) {
    Daemon daemon({"--event-queue-limit", "2"});
    ASSERT_EQ(enumerate(daemon.controlPath()), 0);
    for (int i = 0; i < 3; ++i) daemon.event({"5", std::to_string(i)});
    EXPECT_EQ(waitEvent(daemon.controlPath()).result, wire::kDriverFailed);
    daemon.event({"5", "9"});
    Event event = waitEvent(daemon.controlPath());
    ASSERT_EQ(event.result, 4108);
    EXPECT_EQ(event.handle, 9u);
    EXPECT_EQ(event.kind, 5u);
}

TEST(DaemonEvents, InjectedEventWaitFaults) {
    Daemon daemon;
    ASSERT_EQ(enumerate(daemon.controlPath()), 0);
    daemon.inject({"any", "0xCB203400", "--fail"});
    EXPECT_EQ(waitEvent(daemon.controlPath()).result, wire::kDriverFailed);
    daemon.inject({"any", "0xCB203400", "--reply-hex", ""});
    EXPECT_EQ(waitEvent(daemon.controlPath()).result, 0);
    // A cut-short wait still waits for its event, then delivers its first bytes.
    daemon.inject({"any", "0xCB203400", "--reply-bytes", "8"});
    daemon.event({"4", "3"});
    Event event = waitEvent(daemon.controlPath());
    EXPECT_EQ(event.result, 8);
    daemon.event({"4", "3"});
    EXPECT_EQ(waitEvent(daemon.controlPath()).result, 4108);
}

TEST(DaemonDevices, RestartLeavesAndComesBackUnderTheSameHandle) {
    Daemon daemon;
    int handle = daemon.attach({"--type", "9"});
    ASSERT_EQ(enumerate(daemon.controlPath()), 4);
    std::vector<uint8_t> input(4);
    std::memcpy(input.data(), &handle, 4);
    ASSERT_EQ(wire::transact(daemon.controlPath(), 0xCB20207C, input.data(), 4, nullptr, 0), 0);
    Event removal = waitEvent(daemon.controlPath());
    EXPECT_EQ(removal.kind, 3u);
    EXPECT_EQ(removal.subject, static_cast<uint32_t>(handle));
    uint8_t id = 0;
    EXPECT_EQ(wire::transact(daemon.controlPath(), 0xCB202020, input.data(), 4, &id, 1),
              wire::kDriverFailed);
    EXPECT_EQ(enumerate(daemon.controlPath()), 0);
    Event arrival = waitEvent(daemon.controlPath());
    EXPECT_EQ(arrival.kind, 2u);
    EXPECT_EQ(arrival.subject, static_cast<uint32_t>(handle));
    EXPECT_EQ(wire::transact(daemon.controlPath(), 0xCB202020, input.data(), 4, &id, 1), 1);
    EXPECT_EQ(id, 0x10);
}

TEST(DaemonCommands, AttachDetachDevicesAndStop) {
    Daemon daemon;
    int first = daemon.attach({"--type", "12", "--mac", "02:00:00:00:00:01"});
    int second = daemon.attach({"--hwid", "0x50"});
    EXPECT_EQ(second, first + 1);
    auto listing = daemon.run({"devices"});
    ASSERT_EQ(listing.exitStatus, 0);
    EXPECT_EQ(std::count(listing.out.begin(), listing.out.end(), '\n'), 2);
    EXPECT_EQ(listing.out.rfind(std::to_string(first) + " ", 0), 0u);
    EXPECT_NE(listing.out.find("02:00:00:00:00:01"), std::string::npos) << listing.out;

    daemon.detach(first);
    auto detachAgain = daemon.run({"detach", std::to_string(first)});
    EXPECT_NE(detachAgain.exitStatus, 0);
    EXPECT_EQ(std::count(detachAgain.err.begin(), detachAgain.err.end(), '\n'), 1);
    // Handles are never reused.
    EXPECT_EQ(daemon.attach({"--type", "3"}), second + 1);

    EXPECT_EQ(daemon.run({"stop"}).exitStatus, 0);
    EXPECT_NE(access(daemon.controlPath().c_str(), F_OK), 0);
    auto unreachable = daemon.run({"devices"});
    EXPECT_NE(unreachable.exitStatus, 0);
    EXPECT_NE(unreachable.err.find("no nettlebeamd"), std::string::npos);
}

TEST(DaemonCommands, RequestPrintsTheResultAndTheBytes) {
    Daemon daemon;
    int handle = daemon.attach({"--type", "12"});
    daemon.inject({std::to_string(handle), "0xCB202048", "--reply-hex",
                   "000102030405060708090a0b0c0d0e0f1011"});
    auto printed = daemon.run({"request", "0xCB202048", std::to_string(handle), "--out", "500"});
    ASSERT_EQ(printed.exitStatus, 0) << printed.err;
    EXPECT_EQ(printed.out, "result 18\n00 01 02 03 04 05 06 07 08 09 0a 0b 0c 0d 0e 0f\n10 11\n");
    auto failed = daemon.run({"request", "0xCB202048", "4242", "--out", "500"});
    EXPECT_EQ(failed.out, "result -2\n");
    auto withInput = daemon.run(
        {"request", "0xCB20205C", std::to_string(handle), "--in", "0100", "--out", "30"});
    EXPECT_EQ(withInput.out, "result -2\n");  // the index must be 4 bytes
    auto badHex = daemon.run({"request", "0xCB202020", "1", "--in", "xyz"});
    EXPECT_NE(badHex.exitStatus, 0);
}

TEST(DaemonCommands, BadArgumentsAndFleetFilesAreRefusedWithOneLine) {
    Daemon daemon;
    auto expectOneLineError = [](const testsupport::ProcessResult& result) {
        EXPECT_NE(result.exitStatus, 0);
        EXPECT_EQ(std::count(result.err.begin(), result.err.end(), '\n'), 1) << result.err;
    };
    expectOneLineError(daemon.run({"attach", "--type", "99"}));
    expectOneLineError(daemon.run({"attach", "--type", "3", "--mac", "zz"}));
    expectOneLineError(daemon.run({"attach", "--type", "3", "--sw-fw", "1.2"}));
    expectOneLineError(daemon.run({"event", "2"}));
    expectOneLineError(daemon.run({"event", "1", "2", "--name", "x", "--word", "3"}));
    expectOneLineError(daemon.run({"frobnicate"}));
    expectOneLineError(daemon.run({"detach", "one"}));

    std::string fleet = daemon.folder() + "/fleet.txt";
    std::ofstream(fleet) << "# lab bench\n--type 12\n--type 9 --usb 7\n";
    auto refused = testsupport::runProcess(
        {Daemon::binaryPath(), "serve", "--fleet", fleet, "--control", daemon.folder() + "/other"});
    expectOneLineError(refused);
    EXPECT_NE(refused.err.find("fleet.txt:3:"), std::string::npos) << refused.err;

    auto unwritable =
        testsupport::runProcess({Daemon::binaryPath(), "serve", "--state-dir", "/proc/nettlebeam",
                                 "--control", daemon.folder() + "/other"});
    expectOneLineError(unwritable);
}

TEST(DaemonCommands, FleetFileDevicesAreAttachedAtStart) {
    Daemon scratch;
    std::string fleet = scratch.folder() + "/fleet.txt";
    std::ofstream(fleet) << "--type 12  # ten-gigabit\n\n--hwid 0x4A\n";
    Daemon daemon({"--fleet", fleet});
    auto listing = daemon.run({"devices"});
    EXPECT_EQ(std::count(listing.out.begin(), listing.out.end(), '\n'), 2) << listing.out;
}

}  // namespace
}  // namespace nettlebeam
