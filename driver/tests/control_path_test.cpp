// The control path as another user on the same host would attack it:
// folders made ahead of the daemon (open to all, a link, someone else's),
// a socket with a mis-set mode, a socket or process of someone else. The
// tests act as that user, so they must run as root.
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "admin_protocol.h"
#include "frame.h"
#include "nettlebeam_testsupport.h"

namespace nettlebeam::driver {
namespace {

using testsupport::Daemon;
using testsupport::ProcessResult;
using testsupport::runProcess;

constexpr uid_t kOtherUser = 65534;

bool mentions(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

class ControlPath : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_EQ(geteuid(), 0u) << "these tests act as another user and must run as root";
        char folder[] = "/tmp/nbcontrol.XXXXXX";
        ASSERT_NE(mkdtemp(folder), nullptr);
        folder_ = folder;
        runtime_ = folder_ + "/runtime";
        ASSERT_EQ(mkdir(runtime_.c_str(), 0700), 0);
    }
    void TearDown() override { std::filesystem::remove_all(folder_); }

    // `nettlebeamd ARGS` with the default control path under runtime_.
    ProcessResult nettlebeamd(const std::vector<std::string>& args) const {
        std::vector<std::string> argv = {Daemon::binaryPath()};
        argv.insert(argv.end(), args.begin(), args.end());
        return runProcess(argv, std::chrono::seconds(10),
                          {"NETTLEBEAM_CONTROL=", "XDG_RUNTIME_DIR=" + runtime_});
    }

    // serve must refuse at once, naming the folder and the reason.
    void expectRefused(const std::string& folder, const std::string& reason,
                       const std::vector<std::string>& extra = {}) const {
        std::vector<std::string> args = {"serve"};
        args.insert(args.end(), extra.begin(), extra.end());
        const ProcessResult result = nettlebeamd(args);
        EXPECT_FALSE(result.timedOut) << "the daemon served on " << folder;
        EXPECT_EQ(result.exitStatus, 1);
        EXPECT_TRUE(mentions(result.err, "refusing the control folder " + folder + ": " + reason))
            << result.err;
    }

    std::string folder_, runtime_;
};

TEST_F(ControlPath, FoldersMadeAheadOfTheDaemonAreRefused) {
    const std::string own = runtime_ + "/nettlebeam";
    ASSERT_EQ(mkdir(own.c_str(), 0700), 0);
    ASSERT_EQ(chmod(own.c_str(), 0777), 0);
    expectRefused(own, "others have access to it (mode 0777");

    ASSERT_EQ(chmod(own.c_str(), 0700), 0);
    ASSERT_EQ(chown(own.c_str(), kOtherUser, kOtherUser), 0);
    expectRefused(own, "it belongs to uid 65534");

    ASSERT_EQ(rmdir(own.c_str()), 0);
    const std::string theirs = folder_ + "/theirs";
    ASSERT_EQ(mkdir(theirs.c_str(), 0700), 0);
    ASSERT_EQ(symlink(theirs.c_str(), own.c_str()), 0);
    expectRefused(own, "it is a symbolic link");
    EXPECT_FALSE(std::filesystem::exists(theirs + "/KV7Control"));
    ASSERT_EQ(unlink(own.c_str()), 0);

    // The places the user chose: someone else's, or open to all without
    // the sticky bit.
    ASSERT_EQ(chown(runtime_.c_str(), kOtherUser, kOtherUser), 0);
    expectRefused(runtime_, "it belongs to uid 65534");
    ASSERT_EQ(chown(runtime_.c_str(), 0, 0), 0);
    ASSERT_EQ(chmod(theirs.c_str(), 0777), 0);
    expectRefused(theirs, "everybody may write it", {"--control", theirs + "/KV7Control"});
    // A path given in full: the folders the daemon creates are checked too.
    expectRefused(theirs, "everybody may write it", {"--control", theirs + "/deeper/KV7Control"});
}

TEST_F(ControlPath, TheDaemonsOwnFolderAndSocketAreForItsUserAlone) {
    const mode_t previous = umask(0);  // the daemon inherits it
    const ProcessResult served = nettlebeamd({"serve", "--daemon"});
    umask(previous);
    ASSERT_EQ(served.exitStatus, 0) << served.err;
    struct stat folder {
    }, socket{};
    ASSERT_EQ(lstat((runtime_ + "/nettlebeam").c_str(), &folder), 0);
    ASSERT_EQ(lstat((runtime_ + "/nettlebeam/KV7Control").c_str(), &socket), 0);
    EXPECT_EQ(folder.st_mode & 07777, 0700u);
    EXPECT_EQ(socket.st_mode & 07777, 0600u);
    EXPECT_EQ(nettlebeamd({"devices"}).exitStatus, 0);

    // A second start finds the folder it made and accepts it.
    const ProcessResult second = nettlebeamd({"serve"});
    EXPECT_TRUE(mentions(second.err, "another nettlebeamd already serves")) << second.err;
    EXPECT_EQ(nettlebeamd({"stop"}).exitStatus, 0);
}

// Connects as kOtherUser and sends a device list request. The exit status
// tells what came back: 0 the connection closed without a reply, 2 it
// could not connect, 3 a reply came.
int requestAsOtherUser(const std::string& path) {
    const pid_t child = fork();
    if (child == 0) {
        if (setgid(kOtherUser) != 0 || setuid(kOtherUser) != 0) _exit(2);
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        std::strcpy(address.sun_path, path.c_str());
        const int fd = socket(AF_UNIX, SOCK_STREAM, 0);
        if (connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof(address)) != 0) _exit(2);
        uint8_t request[wire::kHeaderSize];
        wire::encodeRequestHeader({admin::kDevices, 0, 4096}, request);
        if (send(fd, request, sizeof request, MSG_NOSIGNAL) != sizeof request) _exit(0);
        uint8_t reply[wire::kHeaderSize];
        _exit(recv(fd, reply, sizeof reply, MSG_WAITALL) > 0 ? 3 : 0);
    }
    int status = 0;
    waitpid(child, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

TEST_F(ControlPath, TheDaemonClosesConnectionsOfOtherUsers) {
    Daemon daemon;
    // A mode set wider by mistake lets the other user reach the socket.
    ASSERT_EQ(chmod(daemon.folder().c_str(), 0711), 0);
    ASSERT_EQ(chmod(daemon.controlPath().c_str(), 0666), 0);
    EXPECT_EQ(requestAsOtherUser(daemon.controlPath()), 0);
    EXPECT_EQ(requestAsOtherUser(daemon.controlPath()), 0);
    EXPECT_EQ(daemon.run({"devices"}).exitStatus, 0) << "root is served";
    std::stringstream log;
    log << std::ifstream(daemon.folder() + "/nettlebeamd.log").rdbuf();
    EXPECT_TRUE(mentions(log.str(), "runs as uid 65534")) << log.str();

    // The clients' side: a socket of another user is not talked to.
    ASSERT_EQ(chown(daemon.controlPath().c_str(), kOtherUser, kOtherUser), 0);
    const ProcessResult refused = daemon.run({"devices"});
    EXPECT_EQ(refused.exitStatus, 1);
    EXPECT_TRUE(mentions(refused.err, "the socket belongs to uid 65534")) << refused.err;
    ASSERT_EQ(chown(daemon.controlPath().c_str(), 0, 0), 0);
}

}  // namespace
}  // namespace nettlebeam::driver
