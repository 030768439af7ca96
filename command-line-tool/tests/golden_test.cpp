// The real beamctl against a private nettlebeamd: usage paths, every command's
// reports and failure messages, and the exit statuses. Long texts live in
// golden/, one file per case; short ones are written inline.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <fstream>
#include <regex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "nettlebeam_testsupport.h"
#include "reply_hex.h"

namespace {

namespace ts = nettlebeam::testsupport;
using namespace std::chrono_literals;

constexpr int kUsageStatus = 255;  // -1 as a process exit status
const char* const kDetected = "Nettlebeam detected\n";

std::string golden(const std::string& name) {
    std::ifstream file(std::string(BEAMCTL_GOLDEN_DIR) + "/" + name);
    EXPECT_TRUE(file.good()) << "missing golden file " << name;
    std::stringstream text;
    text << file.rdbuf();
    return text.str();
}

ts::ProcessResult beamctl(const std::vector<std::string>& args, const std::string& env,
                          std::chrono::milliseconds timeout = 20s) {
    std::vector<std::string> argv = {BEAMCTL_PATH};
    argv.insert(argv.end(), args.begin(), args.end());
    return ts::runProcess(argv, timeout, {env});
}

std::string joined(const std::vector<std::string>& words) {
    std::string text;
    for (const std::string& word : words) text += "[" + word + "]";
    return text;
}

// The host clock value of a statistics report changes with every run.
std::string maskTimestamp(const std::string& report) {
    return std::regex_replace(report, std::regex("Timestamp( +): +[0-9]+"), "Timestamp$1: <ms>");
}

// ---------------------------------------------------------------------------
// Usage paths: nothing here may reach the library, so no driver is running.

struct UsageCase {
    std::vector<std::string> args;
    std::string expected;  // a golden file name ending in .txt, or the text itself
};

TEST(Usage, EveryGuardPrintsItsUsageAndExitsWithMinusOne) {
    const std::string noDriver = "NETTLEBEAM_CONTROL=/nonexistent/beamctl-test/KV7Control";
    const std::string hex31 = "054a1d8f90041235bed4054a1d8f900";
    const std::vector<UsageCase> cases = {
        {{}, "beamctl : You must specify a command. Type 'beamctl help' for details\n"},
        {{"help"}, "usage_main.txt"},
        {{"HeLp"}, "usage_main.txt"},
        {{"lists"}, "usage_main.txt"},
        {{"xlist"}, "usage_main.txt"},
        {{"help", "lists"}, "usage_main.txt"},
        {{"-d", "0"}, "usage_main.txt"},
        {{"help", "list"}, "beamctl list : Display available Nettlebeam devices\n"},
        {{"help", "LIST", "extra"}, "beamctl list : Display available Nettlebeam devices\n"},
        {{"directcapture"}, "usage_directcapture.txt"},
        {{"help", "directcapture"}, "usage_directcapture.txt"},
        {{"directcapture", "startx"}, "usage_directcapture.txt"},
        {{"directcapture", "start"}, "usage_directcapture_start.txt"},
        {{"help", "directcapture", "start"}, "usage_directcapture_start.txt"},
        {{"help", "directcapture", "start", "-o", "x"}, "usage_directcapture_start.txt"},
        {{"directcapture", "start", "--loop"}, "usage_directcapture_start.txt"},
        {{"directcapture", "start", "-o", "x", "--count", "3"}, "usage_directcapture_start.txt"},
        {{"directcapture", "start", "-o", "x", "--size=-1"}, "usage_directcapture_start.txt"},
        {{"directcapture", "start", "-o", "x", "--count=-2"}, "usage_directcapture_start.txt"},
        {{"directcapture", "start", "-o", "caf\xe9"}, "usage_directcapture_start.txt"},
        {{"directcapture", "start", "-o", "x", "--maxcache=-100"}, "usage_directcapture_start.txt"},
        {{"directcapture", "start", "-o", "x", "--fileduration=-1"},
         "usage_directcapture_start.txt"},
        {{"directcapture", "stop", "now"}, "usage_directcapture_stop.txt"},
        {{"help", "directcapture", "stop"}, "usage_directcapture_stop.txt"},
        {{"help", "DirectCapture", "Status"}, "usage_directcapture_status.txt"},
        {{"dpi"}, "usage_dpi.txt"},
        {{"dpi", "on"}, "usage_dpi.txt"},
        {{"dpi", "enable"}, "usage_dpi_enable.txt"},
        {{"dpi", "enable", "--dpitxt=ABCDEFGHIJKLMNO"}, "usage_dpi_enable.txt"},
        {{"dpi", "enable", "--dpihex=" + hex31}, "usage_dpi_enable.txt"},
        {{"dpi", "enable", "--dpimask=0xffff"}, "usage_dpi_enable.txt"},
        {{"help", "dpi", "enable"}, "usage_dpi_enable.txt"},
        {{"dpi", "disable"}, "usage_dpi_disable.txt"},
        {{"help", "dpi", "save"}, "usage_dpi_save.txt"},
        {{"dpi", "show", "-x"}, "usage_dpi_show.txt"},
        {{"features"}, "usage_features.txt"},
        {{"features", "enable"}, "usage_features.txt"},
        {{"features", "set"}, "usage_features_set.txt"},
        {{"features", "set", "--slicing", "5"}, "usage_features_set.txt"},
        {{"features", "set", "--slicing=-5"}, "usage_features_set.txt"},
        {{"features", "clear"}, "usage_features_clear.txt"},
        {{"help", "features", "clear", "--inline"}, "usage_features_clear.txt"},
        {{"help", "features", "save"}, "usage_features_save.txt"},
        {{"features", "show", "--inline"}, "usage_features_show.txt"},
        {{"gps"}, "usage_gps.txt"},
        {{"gps", "-d"}, "usage_gps.txt"},
        {{"help", "gps", "-d", "0"}, "usage_gps.txt"},
        {{"statistics"}, "usage_statistics.txt"},
        {{"statistics", "--continuous", "--delay", "500"}, "usage_statistics.txt"},
        {{"statistics", "--delay=-1"}, "usage_statistics.txt"},
        {{"help", "statistics", "-d", "0"}, "usage_statistics.txt"},
    };
    for (const UsageCase& usage : cases) {
        const ts::ProcessResult result = beamctl(usage.args, noDriver, 10s);
        const bool isFile = usage.expected.size() > 4 &&
                            usage.expected.compare(usage.expected.size() - 4, 4, ".txt") == 0;
        const std::string expected = isFile ? golden(usage.expected) : usage.expected;
        EXPECT_EQ(result.out, expected) << joined(usage.args);
        EXPECT_EQ(result.exitStatus, kUsageStatus) << joined(usage.args);
        EXPECT_EQ(result.err, "") << joined(usage.args);
    }
}

// ---------------------------------------------------------------------------
// Commands against devices of a private driver.

class WithDriver : public ::testing::Test {
  protected:
    ts::ProcessResult run(const std::vector<std::string>& args,
                          std::chrono::milliseconds timeout = 20s) {
        return beamctl(args, daemon_.controlEnv(), timeout);
    }
    // Runs a command expected to succeed and returns what it printed.
    std::string ok(const std::vector<std::string>& args) {
        const ts::ProcessResult result = run(args);
        EXPECT_EQ(result.exitStatus, 0) << joined(args) << "\n" << result.out;
        EXPECT_EQ(result.err, "") << joined(args);
        return result.out;
    }
    int attach(const std::vector<std::string>& args) { return daemon_.attach(args); }
    void inject(int handle, const std::string& code, const std::vector<std::string>& action) {
        std::vector<std::string> args = {std::to_string(handle), code};
        args.insert(args.end(), action.begin(), action.end());
        daemon_.inject(args);
    }
    void fail(int handle, const std::string& code) { inject(handle, code, {"--fail"}); }

    ts::Daemon daemon_;
};

using List = WithDriver;

TEST_F(List, NamesEachDisplayGroupAndMarksTheRest) {
    attach({"--type", "3", "--mac", "00:1b:2c:3d:4e:5f"});
    attach({"--type", "8", "--mac", "a0:b1:c2:d3:e4:f5"});
    attach({"--type", "12", "--mac", "02:00:00:00:00:0c"});
    attach({"--type", "13", "--mac", "02:00:00:00:00:0d"});
    attach({"--type", "4", "--mac", "02:00:00:00:00:04"});
    const int failing = attach({"--type", "6", "--mac", "02:00:00:00:00:06"});
    fail(failing, "0xCB202028");
    const std::string expected =
        "Found 6 nettlebeams\n"
        "0 : Gigabit Gen1 00:1b:2c:3d:4e:5f\n"
        "1 : Gigabit Gen2 a0:b1:c2:d3:e4:f5\n"
        "2 : Ten-Gigabit 02:00:00:00:00:0c\n"
        "3 : Fast-Ethernet 02:00:00:00:00:0d\n"
        "4 : Error\n"
        "5 : Gigabit Gen3 MAC error\n";
    EXPECT_EQ(ok({"LIST"}), expected);
    EXPECT_EQ(ok({"list", "ignored", "words"}),
              std::string(expected).replace(expected.find("MAC error"), 9, "02:00:00:00:00:06"));
}

TEST_F(List, WithoutDevicesWaitsAboutFiveSecondsThenFindsNone) {
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(ok({"list"}), "Found 0 nettlebeams\n");
    EXPECT_GE(std::chrono::steady_clock::now() - start, 4500ms);
}

using DeviceOption = WithDriver;

TEST_F(DeviceOption, SelectsByPositionInEveryForm) {
    attach({"--type", "5"});   // speed selection, no loopback
    attach({"--type", "13"});  // neither
    const std::string inlineForced = "Inline mode : Enabled (forced)\n";
    EXPECT_EQ(ok({"features", "show"}).find(inlineForced), std::string::npos);
    EXPECT_NE(ok({"features", "show", "-d", "1"}).find(inlineForced), std::string::npos);
    EXPECT_NE(ok({"features", "show", "-d1"}).find(inlineForced), std::string::npos);
    EXPECT_NE(ok({"features", "show", "--device=1"}).find(inlineForced), std::string::npos);
    EXPECT_NE(ok({"features", "show", "--device", "1"}).find(inlineForced), std::string::npos);
    EXPECT_EQ(ok({"features", "show", "--device=0"}).find(inlineForced), std::string::npos);
    EXPECT_EQ(ok({"features", "show"}).rfind(kDetected, 0), 0u);
}

TEST_F(DeviceOption, NumbersOutsideTheListAreInvalid) {
    attach({"--type", "5"});
    attach({"--type", "13"});
    for (const std::vector<std::string>& args :
         {std::vector<std::string>{"features", "show", "-d", "5"},
          {"features", "show", "-d", "2"},
          {"features", "show", "--device=-1"},
          {"statistics", "-d", "7"},
          {"gps", "-d", "2"}}) {
        const ts::ProcessResult result = run(args);
        EXPECT_EQ(result.out, "Invalid Nettlebeam device selected\n") << joined(args);
        EXPECT_EQ(result.exitStatus, kUsageStatus) << joined(args);
    }
}

TEST_F(DeviceOption, WithoutDevicesWaitsAboutFiveSecondsThenIsInvalid) {
    const auto start = std::chrono::steady_clock::now();
    const ts::ProcessResult result = run({"statistics", "-d", "0"});
    EXPECT_EQ(result.out, "Invalid Nettlebeam device selected\n");
    EXPECT_EQ(result.exitStatus, kUsageStatus);
    EXPECT_GE(std::chrono::steady_clock::now() - start, 4500ms);
}

TEST_F(DeviceOption, ADeviceAttachedDuringTheWaitIsUsed) {
    std::thread late([this] {
        std::this_thread::sleep_for(1s);
        attach({"--type", "5"});
    });
    const ts::ProcessResult result = run({"directcapture", "stop"});
    late.join();
    EXPECT_EQ(result.out, std::string(kDetected) + "Capture stopped\n");
    EXPECT_EQ(result.exitStatus, 0);
}

using Features = WithDriver;

const std::vector<std::string> kEveryFeature = {"--keepcrcerrors", "--keepcrc32",  "--disablea",
                                                "--disableb",      "--slicing",    "--inline",
                                                "--loopback",      "--timestamps", "--syncts"};

std::vector<std::string> withAll(std::vector<std::string> words) {
    words.insert(words.end(), kEveryFeature.begin(), kEveryFeature.end());
    return words;
}

TEST_F(Features, SetClearAndShowOnADeviceWithoutLoopback) {
    attach({"--type", "5"});
    EXPECT_EQ(ok(withAll({"features", "clear"})), kDetected);
    EXPECT_EQ(ok({"features", "show", "-d", "0"}), kDetected + golden("features_cleared.txt"));

    EXPECT_EQ(ok({"features", "set", "--slicing=70000", "--loopback", "--keepcrc32", "--syncts"}),
              std::string(kDetected) + "Warning : Your device does not support loopback mode.\n");
    EXPECT_EQ(ok({"features", "show"}), kDetected + golden("features_set_slicing.txt"));

    EXPECT_EQ(ok({"features", "set", "--slicing=0"}), kDetected);
    EXPECT_NE(ok({"features", "show"}).find("Packet slicing : Disabled 0 bytes\n"),
              std::string::npos);
    EXPECT_EQ(ok({"features", "set", "--slicing=128", "--inline"}), kDetected);
    EXPECT_EQ(ok({"features", "set", "--slicing"}), kDetected) << "a bare --slicing is 0";
    const std::string shown = ok({"features", "show"});
    EXPECT_NE(shown.find("Packet slicing : Disabled 0 bytes\n"), std::string::npos);
    EXPECT_NE(shown.find("Inline mode : Enabled\n"), std::string::npos);

    EXPECT_EQ(ok({"features", "clear", "--inline", "--keepcrc32"}), kDetected);
    const std::string cleared = ok({"features", "show"});
    EXPECT_NE(cleared.find("Inline mode : Disabled\n"), std::string::npos);
    EXPECT_NE(cleared.find("Keep CRC32 field : Disabled\n"), std::string::npos);
    EXPECT_NE(cleared.find("Synchronized timestamps : Enabled\n"), std::string::npos);
    EXPECT_EQ(ok({"features", "save"}), kDetected);
}

TEST_F(Features, SpanAndLoopbackFollowTheDeviceCapabilities) {
    attach({"--type", "13"});  // no speed selection, no loopback
    attach({"--type", "11"});  // both
    EXPECT_EQ(ok({"features", "clear", "--inline", "-d", "0"}),
              std::string(kDetected) + "Warning : Your device does not support span mode.\n");
    const std::string forced = ok({"features", "show", "-d", "0"});
    EXPECT_NE(forced.find("Inline mode : Enabled (forced)\nLoopback : Disabled (forced)\n"),
              std::string::npos);

    EXPECT_EQ(ok(withAll({"features", "clear", "-d", "1"})), kDetected);
    EXPECT_EQ(ok({"features", "set", "--loopback", "--disableb", "-d", "1"}), kDetected);
    EXPECT_EQ(ok({"features", "show", "-d", "1"}), kDetected + golden("features_loopback.txt"));
}

TEST_F(Features, FailuresOfEachDeviceRequest) {
    const int handle = attach({"--type", "5"});
    const std::vector<std::pair<std::string, std::vector<std::string>>> cases = {
        {"0xCB20200C", {"features", "show"}},
        {"0xCB20200C", {"features", "set", "--inline"}},
        {"0xCB202008", {"features", "clear", "--inline"}},
        {"0xCB202004", {"features", "save"}},
    };
    const std::vector<std::string> messages = {
        "Failed to get Nettlebeam Features configuration\n",
        "Failed to get Nettlebeam Features configuration\n",
        "Failed to set Nettlebeam Features configuration\n",
        "Failed to save Nettlebeam Features configuration\n",
    };
    for (std::size_t i = 0; i < cases.size(); ++i) {
        fail(handle, cases[i].first);
        const ts::ProcessResult result = run(cases[i].second);
        EXPECT_EQ(result.out, kDetected + messages[i]) << joined(cases[i].second);
        EXPECT_EQ(result.exitStatus, kUsageStatus) << joined(cases[i].second);
    }
}

using Dpi = WithDriver;

TEST_F(Dpi, TextHexAndMaskFormsReachTheDevice) {
    attach({"--type", "11"});
    EXPECT_EQ(ok({"dpi", "enable", "--dpitxt=ABCDEFGHIJKLMNOP", "--dpimask=0x0000ffff"}),
              kDetected);
    EXPECT_EQ(ok({"dpi", "show"}), std::string(kDetected) +
                                       "DPI Filter Configuration : \n"
                                       "Status : Enabled\n"
                                       "Filter Data : 4142434445464748494a4b4c4d4e4f50\n"
                                       "Filter Mask : 0x0000ffff\n");

    EXPECT_EQ(ok({"dpi", "disable", "-d", "0"}), kDetected);
    EXPECT_EQ(ok({"dpi", "show"}), std::string(kDetected) +
                                       "DPI Filter Configuration : \n"
                                       "Status : Disabled\n"
                                       "Filter Data : 4142434445464748494a4b4c4d4e4f50\n"
                                       "Filter Mask : 0x0000ffff\n");

    EXPECT_EQ(ok({"DPI", "Enable", "--dpihex", "054A1D8F90041235bed4054a1d8f9004"}), kDetected);
    EXPECT_EQ(ok({"dpi", "show"}), std::string(kDetected) +
                                       "DPI Filter Configuration : \n"
                                       "Status : Enabled\n"
                                       "Filter Data : 054a1d8f90041235bed4054a1d8f9004\n"
                                       "Filter Mask : 0x0000ffff\n");

    // Text wins over hex; the mask stays as read when not given.
    EXPECT_EQ(ok({"dpi", "enable", "--dpihex=00000000000000000000000000000000",
                  "--dpitxt=GET /index.html "}),
              kDetected);
    EXPECT_NE(ok({"dpi", "show"})
                  .find("Filter Data : 474554202f696e6465782e68746d6c20\n"
                        "Filter Mask : 0x0000ffff\n"),
              std::string::npos);
    EXPECT_EQ(ok({"dpi", "save"}), kDetected);
}

TEST_F(Dpi, AMaskWithTrailingTextPrintsTheUsageAfterTheDeviceIsChosen) {
    attach({"--type", "11"});
    const ts::ProcessResult result = run({"dpi", "enable", "--dpimask=0x0000ffffzz"});
    EXPECT_EQ(result.out, kDetected + golden("usage_dpi_enable.txt"));
    EXPECT_EQ(result.exitStatus, kUsageStatus);
    EXPECT_NE(ok({"dpi", "show"}).find("Status : Disabled\n"), std::string::npos)
        << "nothing was written";
}

TEST_F(Dpi, DevicesWithoutFilteringAndFailingRequests) {
    const int gigabit = attach({"--type", "5"});
    const int tenGigabit = attach({"--type", "11"});
    (void)gigabit;
    for (const char* action : {"show", "save"}) {
        const ts::ProcessResult result = run({"dpi", action});
        EXPECT_EQ(result.out, std::string(kDetected) + "Your device does not support filtering\n");
        EXPECT_EQ(result.exitStatus, kUsageStatus);
    }
    const std::vector<std::pair<std::string, std::vector<std::string>>> cases = {
        {"0xCB20204C", {"dpi", "show", "-d", "1"}},
        {"0xCB20204C", {"dpi", "disable", "-d", "1"}},
        {"0xCB202050", {"dpi", "enable", "-d", "1"}},
        {"0xCB202054", {"dpi", "save", "-d", "1"}},
    };
    const std::vector<std::string> messages = {
        "Failed to get Nettlebeam DPI Filter configuration\n",
        "Failed to get Nettlebeam DPI Filter configuration\n",
        "Failed to set Nettlebeam DPI Filter configuration\n",
        "Failed to save Nettlebeam DPI Filter configuration\n",
    };
    for (std::size_t i = 0; i < cases.size(); ++i) {
        fail(tenGigabit, cases[i].first);
        const ts::ProcessResult result = run(cases[i].second);
        EXPECT_EQ(result.out, kDetected + messages[i]) << joined(cases[i].second);
        EXPECT_EQ(result.exitStatus, kUsageStatus) << joined(cases[i].second);
    }
}

using DirectCapture = WithDriver;

TEST_F(DirectCapture, StartTwiceThenStatusAndStop) {
    attach({"--type", "5"});
    const std::string base = daemon_.folder() + "/capture";
    EXPECT_EQ(ok({"directcapture", "start", "-o", base, "--maxcache=2048", "--size=4096",
                  "--count=3", "--loop"}),
              std::string(kDetected) + "Capture started\n");
    const ts::ProcessResult again = run({"directcapture", "start", "--name=" + base});
    EXPECT_EQ(again.out, std::string(kDetected) + "Failed: capture is already started\n");
    EXPECT_EQ(again.exitStatus, kUsageStatus);

    const std::string status = ok({"directcapture", "status"});
    EXPECT_EQ(status.rfind(std::string(kDetected) + "Enabled : 1\nError : 0\nCache used : ", 0), 0u)
        << status;
    EXPECT_NE(status.find("\nMaximum cache : 2147483648\n"), std::string::npos)
        << "2048 MB must arrive as 2^31 bytes:\n"
        << status;
    EXPECT_EQ(ok({"directcapture", "stop"}), std::string(kDetected) + "Capture stopped\n");
    EXPECT_EQ(ok({"directcapture", "status"}).rfind(std::string(kDetected) + "Enabled : 0\n", 0),
              0u);
}

TEST_F(DirectCapture, StatusReportShowsTheDriverCounts) {
    const int handle = attach({"--type", "5"});
    // enabled, flag, cache, written, dropped, error code 8, max cache, files
    inject(handle, "0xCB202820",
           {"--reply-hex", wordsHex({1, 0, 3, 5000000000ull, 5, 8, 104857600, 7}, 8256)});
    EXPECT_EQ(ok({"directcapture", "status"}), std::string(kDetected) +
                                                   "Enabled : 1\n"
                                                   "Error : 1\n"
                                                   "Cache used : 3\n"
                                                   "Maximum cache : 104857600\n"
                                                   "Bytes Written : 5000000000\n"
                                                   "Files Written : 7\n");
}

TEST_F(DirectCapture, FailureMessages) {
    const int handle = attach({"--type", "5"});
    const std::string name = "--name=" + daemon_.folder() + "/failing";
    struct Case {
        std::string code;
        std::vector<std::string> args;
        std::string message;
    };
    const std::vector<Case> cases = {
        {"0xCB202820", {"directcapture", "start", name}, "Failed: cannot get status\n\n"},
        {"0xCB202808", {"directcapture", "start", name}, "Failed: cannot set configuration\n"},
        {"0xCB202800", {"directcapture", "start", name}, "Failed: cannot start capture\n"},
        {"0xCB202804", {"directcapture", "stop"}, "Failed: cannot stop capture\n"},
        {"0xCB202820", {"directcapture", "status"}, "Failed: cannot get status\n"},
    };
    for (const Case& c : cases) {
        fail(handle, c.code);
        const ts::ProcessResult result = run(c.args);
        EXPECT_EQ(result.out, kDetected + c.message) << c.code;
        EXPECT_EQ(result.exitStatus, kUsageStatus) << c.code;
    }
    EXPECT_EQ(ok({"directcapture", "status"}).rfind(std::string(kDetected) + "Enabled : 0\n", 0),
              0u)
        << "no failed start left a capture running";
}

using Statistics = WithDriver;

TEST_F(Statistics, FirstFormatWithARunningCapture) {
    const int handle = attach({"--type", "5"});
    // w0 bytes, w1..w3 sizes, w4 CRC, w5 jabbers, w6 collisions, w7 drops for
    // each group; link times in device ticks; the device time; the signature.
    const std::vector<std::uint64_t> reply = {
        1000, 11, 12, 13, 14, 15, 16,        17,     2000, 21,
        22,   23, 24, 25, 26, 27, 250000000, 100000, 40,   0x0D0C0B0A03020100ull};
    inject(handle, "0xCB202010", {"--reply-hex", wordsHex(reply, 160)});
    inject(handle, "0xCB202024", {"--reply-hex", wordsHex({9}, 8)});
    inject(
        handle, "0xCB202820",
        {"--reply-hex", wordsHex({1, 0, 1073741824, 1073741825, 1024, 0, 1ull << 31, 42}, 8256)});
    const ts::ProcessResult result = run({"statistics", "-d", "0"});
    EXPECT_EQ(maskTimestamp(result.out), kDetected + golden("statistics_format1.txt"));
    EXPECT_EQ(result.exitStatus, 0);
}

TEST_F(Statistics, SecondFormatWithTheCaptureStopped) {
    const int handle = attach({"--type", "11"});
    std::vector<std::uint64_t> counters;
    for (std::uint64_t i = 1; i <= 16; ++i) counters.push_back(i * 1000 + i);
    counters[15] = 18446744073709551615ull;
    inject(handle, "0xCB202060", {"--reply-hex", wordsHex(counters, 128)});
    inject(handle, "0xCB202024", {"--reply-hex", wordsHex({3}, 8)});
    const ts::ProcessResult result = run({"statistics", "--device=0"});
    EXPECT_EQ(maskTimestamp(result.out), kDetected + golden("statistics_format2.txt"));
    EXPECT_EQ(result.exitStatus, 0);
}

TEST_F(Statistics, ExitStatusFollowsTheFailingRead) {
    const int handle = attach({"--type", "11"});
    fail(handle, "0xCB202060");
    const ts::ProcessResult failed = run({"statistics", "--continuous"});
    EXPECT_EQ(failed.out, std::string(kDetected) + "Failed to get statistics\n");
    EXPECT_NE(failed.exitStatus, 0);
    EXPECT_FALSE(failed.timedOut) << "a failing read ends the continuous loop";

    fail(handle, "0xCB202820");
    const ts::ProcessResult noCapture = run({"statistics", "-d", "0"});
    EXPECT_NE(noCapture.out.find("Counter 16 : "), std::string::npos);
    EXPECT_EQ(noCapture.out.find("Direct capture"), std::string::npos);
    EXPECT_NE(noCapture.exitStatus, 0) << "one-shot ends with the capture status read's result";
}

std::size_t reportCount(const std::string& out) {
    std::size_t count = 0;
    for (std::size_t at = out.find("SW dropped"); at != std::string::npos;
         at = out.find("SW dropped", at + 1)) {
        ++count;
    }
    return count;
}

TEST_F(Statistics, ContinuousRepeatsAfterTheDelayUntilStopped) {
    attach({"--type", "11"});
    const ts::ProcessResult quick = run({"statistics", "--continuous", "--delay=100"}, 2500ms);
    EXPECT_TRUE(quick.timedOut);
    EXPECT_GE(reportCount(quick.out), 3u) << quick.out;
    EXPECT_EQ(quick.out.rfind(std::string(kDetected) + "\nTimestamp  : ", 0), 0u);

    const ts::ProcessResult bare = run({"statistics", "--continuous", "--delay"}, 2500ms);
    EXPECT_TRUE(bare.timedOut);
    EXPECT_GE(reportCount(bare.out), 1u);
    EXPECT_LE(reportCount(bare.out), 3u) << "a bare --delay keeps 1000 ms";
}

using Gps = WithDriver;

TEST_F(Gps, PassesTheReceiverSentencesThrough) {
    attach({"--type", "9"});
    const ts::ProcessResult result = run({"gps", "-d", "0"}, 3500ms);
    EXPECT_TRUE(result.timedOut) << "the stream runs until interrupted";
    EXPECT_EQ(result.out.rfind(kDetected, 0), 0u);
    const std::regex sentence(R"(\$GP(RMC|GGA|GSV),[^*\r\n]*\*[0-9A-F]{2}\r\n)");
    const auto begin = std::sregex_iterator(result.out.begin(), result.out.end(), sentence);
    EXPECT_GE(std::distance(begin, std::sregex_iterator()), 2) << result.out;
}

TEST_F(Gps, DevicesWithoutTimingAndALostDriver) {
    const int gigabit = attach({"--type", "5"});
    const ts::ProcessResult unsupported = run({"gps", "-d", "0"});
    EXPECT_EQ(unsupported.out, std::string(kDetected) + "GPS output interface not supported\n");
    EXPECT_EQ(unsupported.exitStatus, kUsageStatus);

    // The stream must be running when the driver stops, so the device is the
    // only one: a run that caught a list still filling would end at once.
    daemon_.detach(gigabit);
    attach({"--type", "12"});
    ts::ProcessResult lost;
    std::thread reader([&] { lost = run({"gps", "-d", "0"}, 15s); });
    std::this_thread::sleep_for(1500ms);
    daemon_.stop();
    reader.join();
    EXPECT_FALSE(lost.timedOut);
    EXPECT_EQ(lost.exitStatus, kUsageStatus);
    // A read that finds the driver gone reports the read error; one the driver
    // drops while it stops reports the request as failed, which the library
    // gives as "not supported".
    const auto endsWith = [&](const std::string& tail) {
        return lost.out.size() >= tail.size() &&
               lost.out.compare(lost.out.size() - tail.size(), tail.size(), tail) == 0;
    };
    EXPECT_TRUE(endsWith("Error while reading GPS output interface\n") ||
                endsWith("GPS output interface not supported\n"))
        << lost.out;
}

}  // namespace
