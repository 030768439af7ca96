// The state folder as another user on the same host would attack it: a
// folder made ahead of the daemon (someone else's, open to others, a link)
// and files planted in it (links, a FIFO, a file of someone else). The
// tests act as that user, so they must run as root.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "client.h"
#include "nettlebeam_testsupport.h"
#include "request_codes.h"

namespace nettlebeam::driver {
namespace {

using testsupport::Daemon;
using testsupport::ProcessResult;
using testsupport::runProcess;

constexpr uid_t kOtherUser = 65534;

bool mentions(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

std::string contentOf(const std::string& file) {
    std::stringstream text;
    text << std::ifstream(file).rdbuf();
    return text.str();
}

class StateFolder : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_EQ(geteuid(), 0u) << "these tests act as another user and must run as root";
        char folder[] = "/tmp/nbstate.XXXXXX";
        ASSERT_NE(mkdtemp(folder), nullptr);
        folder_ = folder;
        control_ = folder_ + "/run/KV7Control";
        victim_ = folder_ + "/victim";
        std::ofstream(victim_) << "precious\n";
    }
    void TearDown() override {
        // A daemon that served where it should have refused is ended too.
        runProcess({Daemon::binaryPath(), "stop", "--control", control_}, std::chrono::seconds(10));
        std::filesystem::remove_all(folder_);
    }

    ProcessResult serve(const std::string& stateFolder) const {
        return runProcess({Daemon::binaryPath(), "serve", "--fleet", "empty", "--state-dir",
                           stateFolder, "--control", control_, "--daemon"},
                          std::chrono::seconds(10));
    }

    void expectServed(const std::string& stateFolder) const {
        const ProcessResult served = serve(stateFolder);
        EXPECT_EQ(served.exitStatus, 0) << served.err;
        EXPECT_EQ(runProcess({Daemon::binaryPath(), "stop", "--control", control_}).exitStatus, 0);
    }

    // serve must refuse at once with one line naming the folder and the reason.
    void expectRefused(const std::string& stateFolder, const std::string& folder,
                       const std::string& reason) const {
        const ProcessResult result = serve(stateFolder);
        EXPECT_EQ(result.exitStatus, 1) << "the daemon served with " << stateFolder;
        EXPECT_EQ(result.err,
                  "nettlebeamd: refusing the state folder " + folder + ": " + reason + "\n");
        EXPECT_EQ(contentOf(victim_), "precious\n");
    }

    std::string folder_, control_, victim_;
};

TEST_F(StateFolder, AFolderOfAnotherUserOrOpenToOthersIsRefused) {
    const std::string planted = folder_ + "/planted";
    ASSERT_EQ(mkdir(planted.c_str(), 0700), 0);
    ASSERT_EQ(chmod(planted.c_str(), 0777), 0);
    // Where the daemon used to prove the folder writable.
    ASSERT_EQ(symlink(victim_.c_str(), (planted + "/.write-test").c_str()), 0);
    ASSERT_EQ(chown(planted.c_str(), kOtherUser, kOtherUser), 0);
    expectRefused(planted, planted, "it belongs to uid 65534, not to uid 0");

    ASSERT_EQ(chown(planted.c_str(), 0, 0), 0);
    expectRefused(planted, planted, "others may write it (mode 0777)");
    ASSERT_EQ(chmod(planted.c_str(), 01777), 0);
    expectRefused(planted, planted, "others may write it (mode 1777)");
    const std::string link = folder_ + "/link";
    ASSERT_EQ(chmod(planted.c_str(), 0755), 0);
    ASSERT_EQ(symlink(planted.c_str(), link.c_str()), 0);
    expectRefused(link, link, "it is a symbolic link");
    // The user's own folder, readable by others, is taken; the link in it
    // is left alone.
    expectServed(planted);
    EXPECT_EQ(contentOf(victim_), "precious\n");

    // A folder to create: the deepest one there is is the place the user
    // chose, and what is made below it is private.
    const std::string deeper = planted + "/deeper";
    ASSERT_EQ(chown(planted.c_str(), kOtherUser, kOtherUser), 0);
    expectRefused(deeper + "/state", planted, "it belongs to uid 65534, not to uid 0 or root");
    ASSERT_EQ(chown(planted.c_str(), 0, 0), 0);
    ASSERT_EQ(chmod(planted.c_str(), 0777), 0);
    expectRefused(deeper + "/state", planted,
                  "everybody may write it (mode 0777) and it has no sticky bit");
    ASSERT_EQ(chmod(planted.c_str(), 0755), 0);
    const mode_t previous = umask(0);  // the daemon inherits it
    expectServed(deeper + "/state");
    umask(previous);
    for (const std::string& made : {deeper, deeper + "/state"}) {
        struct stat info {};
        ASSERT_EQ(lstat(made.c_str(), &info), 0);
        EXPECT_EQ(info.st_mode & 07777, 0700u) << made;
    }
}

// The hardware id a device of a fixed MAC address starts with in `daemon`,
// from the device list: a saved state file sets it.
std::string startingId(const Daemon& daemon) {
    const int handle = daemon.attach({"--hwid", "0x4D", "--mac", "02:00:00:00:00:01"});
    const std::string listing = daemon.run({"devices"}).out;
    daemon.detach(handle);
    const size_t at = listing.find(" id ");
    return at == std::string::npos ? listing : listing.substr(at + 4, 4);
}

TEST_F(StateFolder, PlantedFilesAreNeitherReadNorWrittenThrough) {
    Daemon daemon;
    const std::string file = daemon.stateDirectory() + "/020000000001.state";
    const std::string log = daemon.folder() + "/nettlebeamd.log";
    const std::string elsewhere = folder_ + "/elsewhere";
    std::ofstream(elsewhere) << "nettlebeam-device-state 1\nhardware-id 0x4f\n";
    ASSERT_EQ(startingId(daemon), "0x4d");

    ASSERT_EQ(symlink(elsewhere.c_str(), file.c_str()), 0);
    EXPECT_EQ(startingId(daemon), "0x4d") << "a link was followed";
    EXPECT_TRUE(mentions(contentOf(log), file + ": it is a symbolic link"));
    ASSERT_EQ(unlink(file.c_str()), 0);

    std::filesystem::copy_file(elsewhere, file);
    ASSERT_EQ(chown(file.c_str(), kOtherUser, kOtherUser), 0);
    EXPECT_EQ(startingId(daemon), "0x4d") << "another user's file was read";
    EXPECT_TRUE(mentions(contentOf(log), file + ": it belongs to uid 65534"));
    // The same file of the daemon's user is what a save leaves: it is read.
    ASSERT_EQ(chown(file.c_str(), 0, 0), 0);
    EXPECT_EQ(startingId(daemon), "0x4f");
    ASSERT_EQ(unlink(file.c_str()), 0);

    ASSERT_EQ(mkfifo(file.c_str(), 0600), 0);
    EXPECT_EQ(startingId(daemon), "0x4d");
    EXPECT_TRUE(mentions(contentOf(log), file + ": it is not a regular file"));
    ASSERT_EQ(unlink(file.c_str()), 0);

    // The name the daemon used to write before renaming.
    ASSERT_EQ(symlink(victim_.c_str(), (file + ".tmp").c_str()), 0);
    const int handle = daemon.attach({"--hwid", "0x4D", "--mac", "02:00:00:00:00:01"});
    const uint32_t input = static_cast<uint32_t>(handle);
    uint8_t reply[64];
    ASSERT_EQ(wire::transact(daemon.controlPath(), wire::code::kSaveConfiguration, &input,
                             sizeof input, reply, sizeof reply),
              0);
    EXPECT_EQ(contentOf(victim_), "precious\n");
    struct stat saved {};
    ASSERT_EQ(lstat(file.c_str(), &saved), 0);
    EXPECT_TRUE(S_ISREG(saved.st_mode));
    EXPECT_EQ(saved.st_mode & 07777, 0600u);
    size_t entries = 0;
    for ([[maybe_unused]] const auto& entry :
         std::filesystem::directory_iterator(daemon.stateDirectory()))
        ++entries;
    EXPECT_EQ(entries, 2u) << "the saved file and the planted link, no temporary file left";
}

}  // namespace
}  // namespace nettlebeam::driver
