// beamctl as scripts use it, against a private nettlebeamd: the reasons on
// standard error (standard output keeps the messages scripts already match),
// devices picked by MAC, and the options added for scripts.
#include <NettlebeamAPI.h>
#include <arpa/inet.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <fstream>
#include <functional>
#include <optional>
#include <regex>
#include <span>
#include <sstream>
#include <string>
#include <thread>
#include <variant>
#include <vector>

#include "firmware_format.h"
#include "nettlebeam_testsupport.h"
#include "reply_hex.h"
#include "sntp_client.h"

namespace {

namespace ts = nettlebeam::testsupport;
using namespace std::chrono_literals;

constexpr int kFailureStatus = 255;  // -1 as a process exit status
const std::string kDetected = "Nettlebeam detected\n";
const std::string kInvalid = "Invalid Nettlebeam device selected\n";

std::string golden(const std::string& name) {
    std::ifstream file(std::string(BEAMCTL_GOLDEN_DIR) + "/" + name);
    EXPECT_TRUE(file.good()) << "missing golden file " << name;
    std::stringstream text;
    text << file.rdbuf();
    return text.str();
}

std::string joined(const std::vector<std::string>& words) {
    std::string text;
    for (const std::string& word : words) text += "[" + word + "]";
    return text;
}

ts::ProcessResult beamctl(const std::vector<std::string>& args, const std::string& env,
                          std::chrono::milliseconds timeout = 20s) {
    std::vector<std::string> argv = {BEAMCTL_PATH};
    argv.insert(argv.end(), args.begin(), args.end());
    return ts::runProcess(argv, timeout, {env});
}

bool contains(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

class WithDriver : public ::testing::Test {
  protected:
    ts::ProcessResult run(const std::vector<std::string>& args,
                          std::chrono::milliseconds timeout = 20s) {
        return beamctl(args, daemon_.controlEnv(), timeout);
    }
    std::string ok(const std::vector<std::string>& args) {
        const ts::ProcessResult result = run(args);
        EXPECT_EQ(result.exitStatus, 0) << joined(args) << "\n" << result.out << result.err;
        EXPECT_EQ(result.err, "") << joined(args);
        return result.out;
    }
    // A run that must fail: its standard output, exit status and the one
    // reason line it gives on standard error.
    void refused(const std::vector<std::string>& args, const std::string& out,
                 const std::string& reason) {
        const ts::ProcessResult result = run(args);
        EXPECT_EQ(result.out, out) << joined(args);
        EXPECT_EQ(result.exitStatus, kFailureStatus) << joined(args);
        EXPECT_EQ(result.err, "beamctl: " + reason + "\n") << joined(args);
    }
    int attach(const std::vector<std::string>& args) { return daemon_.attach(args); }

    ts::Daemon daemon_;
};

// ---------------------------------------------------------------------------
// Reasons

TEST(NoDaemon, EveryCommandFailsNamingThePathAndHowToStartOne) {
    const std::string path = testing::TempDir() + "beamctl-no-daemon/KV7Control";
    const std::string env = "NETTLEBEAM_CONTROL=" + path;
    const std::string reason = "beamctl: no nettlebeamd answers on " + path +
                               "; start one with `nettlebeamd serve` (or set "
                               "NETTLEBEAM_CONTROL to its socket)\n";
    const ts::ProcessResult list = beamctl({"list"}, env);
    EXPECT_EQ(list.out, "Found 0 nettlebeams\n");
    EXPECT_EQ(list.err, reason);
    EXPECT_NE(list.exitStatus, 0) << "a script must not take a missing daemon for no devices";
    for (const std::vector<std::string>& args :
         {std::vector<std::string>{"features", "show"},
          {"statistics", "-d", "0"},
          {"directcapture", "stop", "-d", "02:00:00:00:00:01"}}) {
        const ts::ProcessResult result = beamctl(args, env);
        EXPECT_EQ(result.out, kInvalid) << joined(args);
        EXPECT_EQ(result.err, reason) << joined(args);
        EXPECT_EQ(result.exitStatus, kFailureStatus) << joined(args);
    }
}

TEST(HelpAndVersion, AreRequestsThatSucceed) {
    const std::string env = "NETTLEBEAM_CONTROL=" + testing::TempDir() + "beamctl-none/KV7Control";
    const struct {
        std::vector<std::string> args;
        std::string golden;
    } cases[] = {
        {{"--help"}, "usage_main.txt"},
        {{"statistics", "--help"}, "usage_statistics.txt"},
        {{"--help", "directcapture", "start"}, "usage_directcapture_start.txt"},
        {{"features", "set", "--help", "--inline"}, "usage_features_set.txt"},
    };
    for (const auto& c : cases) {
        const ts::ProcessResult result = beamctl(c.args, env);
        EXPECT_EQ(result.out, golden(c.golden)) << joined(c.args);
        EXPECT_EQ(result.exitStatus, 0) << joined(c.args);
    }
    const ts::ProcessResult list = beamctl({"list", "--help"}, env);
    EXPECT_EQ(list.out, "beamctl list : Display available Nettlebeam devices\n");
    EXPECT_EQ(list.exitStatus, 0);
    const ts::ProcessResult unknown = beamctl({"lists", "--help"}, env);
    EXPECT_EQ(unknown.out, golden("usage_main.txt"));
    EXPECT_EQ(unknown.exitStatus, kFailureStatus) << "an unknown command is still a usage error";

    const ts::ProcessResult version = beamctl({"--version"}, env);
    EXPECT_TRUE(std::regex_match(
        version.out, std::regex("beamctl [0-9]+\\.[0-9]+\\.[0-9]+\nNettlebeamAPI 2\\.3\\.19\n")))
        << version.out;
    EXPECT_EQ(version.exitStatus, 0);
}

using Reasons = WithDriver;

TEST_F(Reasons, ADaemonWithoutDevicesAndChoicesThatNameNoDevice) {
    refused({"statistics", "-d", "0"}, kInvalid,
            "nettlebeamd on " + daemon_.controlPath() + " has no device attached");
    attach({"--type", "5", "--mac", "02:00:00:00:00:05"});
    refused({"features", "show", "-d", "3"}, kInvalid,
            "no device at position 3: 1 listed, counting from 0 (see `beamctl list`)");
    refused({"features", "show", "-d", "02-00-00-00-00-5A"}, kInvalid,
            "no device with MAC 02:00:00:00:00:5a is attached (see `beamctl list`)");
}

TEST_F(Reasons, ACaptureFolderThatCannotHoldFilesIsRefusedBeforeTheDeviceIsAsked) {
    attach({"--type", "5"});
    const std::string missing = daemon_.folder() + "/no-such-folder";
    refused({"directcapture", "start", "-o", missing + "/capture"},
            kDetected + "Failed: cannot start capture\n",
            "the capture folder " + missing + " cannot be used: No such file or directory");
    const std::string file = daemon_.folder() + "/a-file";
    std::ofstream(file) << "x";
    refused({"directcapture", "start", "-o", file + "/capture"},
            kDetected + "Failed: cannot start capture\n",
            "the capture folder " + file + " is not a folder");
    EXPECT_TRUE(contains(ok({"directcapture", "status"}), "Enabled : 0\n"))
        << "nothing was started";
}

TEST_F(Reasons, ARefusalGivesTheStatusAndItsMeaning) {
    const int handle = attach({"--type", "11"});
    daemon_.inject({std::to_string(handle), "0xCB20200C", "--fail"});
    refused({"features", "show"}, kDetected + "Failed to get Nettlebeam Features configuration\n",
            "the device refused: status -2 (already done, or the driver failed the request)");
    daemon_.inject({std::to_string(handle), "0xCB202054", "--fail"});
    refused({"dpi", "save"}, kDetected + "Failed to save Nettlebeam DPI Filter configuration\n",
            "the device refused: status -1 (the driver could not be reached, failed the request "
            "or sent an invalid reply)");
}

// Runs beamctl with its output read as it comes; the reasons go to a file.
class Stream {
  public:
    Stream(const std::string& env, const std::string& args, const std::string& errFile)
        : pipe_(popen(("env " + env + " " + BEAMCTL_PATH + " " + args + " 2>" + errFile).c_str(),
                      "r")) {}
    ~Stream() {
        if (pipe_ != nullptr) close();
    }
    // Reads until `text` has been printed; false at the end of the output.
    bool waitFor(const std::string& text) {
        char line[512];
        while (!contains(out_, text)) {
            if (std::fgets(line, sizeof line, pipe_) == nullptr) return false;
            out_ += line;
        }
        return true;
    }
    // Reads to the end and returns the exit status.
    int close() {
        char chunk[512];
        while (std::fgets(chunk, sizeof chunk, pipe_) != nullptr) out_ += chunk;
        const int status = pclose(pipe_);
        pipe_ = nullptr;
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }
    const std::string& out() const { return out_; }

  private:
    std::FILE* pipe_;
    std::string out_;
};

std::string fileText(const std::string& path) {
    std::ifstream file(path);
    std::stringstream text;
    text << file.rdbuf();
    return text.str();
}

TEST_F(Reasons, ADeviceThatLeavesWhileWatchedIsReportedGone) {
    const int handle = attach({"--type", "11", "--mac", "02:00:00:00:00:0b"});
    const std::string errFile = daemon_.folder() + "/stream.err";
    Stream stream(daemon_.controlEnv(), "statistics --continuous --delay=100 -d 02:00:00:00:00:0B",
                  errFile);
    ASSERT_TRUE(stream.waitFor("Counter 16")) << stream.out();
    daemon_.detach(handle);
    // Statistics end with the status of the read that failed.
    EXPECT_NE(stream.close(), 0);
    const std::string tail = "Failed to get statistics\n";
    ASSERT_GE(stream.out().size(), tail.size());
    EXPECT_EQ(stream.out().substr(stream.out().size() - tail.size()), tail);
    EXPECT_EQ(fileText(errFile), "beamctl: the device left (it is no longer listed)\n");
}

// ---------------------------------------------------------------------------
// Devices by MAC

using DeviceByMac = WithDriver;

const std::string kInlineForced = "Inline mode : Enabled (forced)\n";

TEST_F(DeviceByMac, AScriptKeepsReachingItsDeviceWhenAnotherLeavesAndComesBack) {
    // The span-capable device the script manages, and a fixed-inline one.
    const int other = attach({"--type", "13", "--mac", "02:00:00:00:00:0d"});
    attach({"--type", "5", "--mac", "00:1b:c5:0a:00:01"});
    const std::vector<std::string> mine = {"-d", "00-1B-C5-0A-00-01"};
    const auto features = [&](const std::vector<std::string>& device) {
        std::vector<std::string> args = {"features", "show"};
        args.insert(args.end(), device.begin(), device.end());
        return ok(args);
    };
    EXPECT_FALSE(contains(features(mine), kInlineForced));
    EXPECT_FALSE(contains(features({"-d", "1"}), kInlineForced)) << "position 1 is mine";

    daemon_.detach(other);
    attach({"--type", "13", "--mac", "02:00:00:00:00:0d"});
    // The positions moved: what a script knew as position 1 is the other
    // device now; the MAC still reaches the same one.
    const std::string listed = ok({"list"});
    EXPECT_EQ(listed,
              "Found 2 nettlebeams\n0 : Gigabit Gen2 00:1b:c5:0a:00:01\n"
              "1 : Fast-Ethernet 02:00:00:00:00:0d\n");
    EXPECT_TRUE(contains(features({"-d", "1"}), kInlineForced));
    EXPECT_EQ(ok({"features", "clear", "--inline", "-d", "00:1b:c5:0a:00:01"}), kDetected);
    EXPECT_TRUE(contains(features(mine), "Inline mode : Disabled\n"))
        << "the change reached the device named by its MAC";
    EXPECT_TRUE(contains(features({"--device=02:00:00:00:00:0D"}), kInlineForced));
}

// ---------------------------------------------------------------------------
// Output for scripts: list --long, --json, statistics --rates

// Parses each line of `json` with Python's parser and prints `expression`
// for it (`d` is the parsed line): a malformed line fails the run.
std::string python(const std::string& json, const std::string& expression) {
    const std::string script =
        "import json, sys\n"
        "for line in sys.argv[1].splitlines():\n"
        "    d = json.loads(line)\n"
        "    print(" +
        expression + ")\n";
    const ts::ProcessResult result = ts::runProcess({PYTHON3_PATH, "-c", script, json, expression});
    EXPECT_EQ(result.exitStatus, 0) << result.err << "\n" << json;
    return result.out;
}

// Each line in one canonical form (sorted keys, the host clock masked), so a
// golden file can be written for reading.
std::string canonicalJson(const std::string& json) {
    return python(json,
                  "json.dumps({**d, **({'timestamp': 0} if 'timestamp' in d else {})}, "
                  "sort_keys=True)");
}

using ScriptOutput = WithDriver;

// A format-1 reply: port A counters from `a`, port B all zero but the
// signature; 160 bytes.
std::string formatOneReply(std::uint64_t bytes, std::uint64_t frames, std::uint64_t crc,
                           std::uint64_t drops) {
    return wordsHex({bytes, 0, frames, 0, crc, 0, 0,     drops, 0, 0,
                     0,     0, 0,      0, 0,   0, 50000, 0,     9, 0x0D0C0B0A03020100ull},
                    160);
}

TEST_F(ScriptOutput, ListLongAndJsonDescribeEachDevice) {
    attach({"--type", "5", "--mac", "00:1b:c5:0a:00:01", "--sw-fw", "2.1.0.7", "--hw-fw", "310"});
    attach({"--type", "11", "--mac", "02:00:00:00:00:0b"});
    // The links come up once the simulated ports have negotiated.
    std::string listed;
    for (int attempt = 0; attempt < 100; ++attempt) {
        listed = ok({"list", "--json"});
        if (python(listed, "d['devices'][0]['ports'][1]['link']") == "True\n") break;
    }
    EXPECT_EQ(canonicalJson(listed), canonicalJson(golden("list.json")));
    EXPECT_EQ(ok({"list", "--long"}), golden("list_long.txt"));
}

TEST_F(ScriptOutput, JsonReportsKeepEveryValueExact) {
    const int gigabit = attach({"--type", "5"});
    const int tenGigabit = attach({"--type", "13"});
    (void)tenGigabit;
    daemon_.inject({std::to_string(gigabit), "0xCB202820", "--reply-hex",
                    wordsHex({1, 0, 3, 5000000000ull, 5, 8, 104857600, 7}, 8256)});
    const std::string capture = ok({"directcapture", "status", "--json"});
    EXPECT_EQ(canonicalJson(capture), canonicalJson(golden("capture_status.json")));
    EXPECT_EQ(python(capture, "d['bytesWritten']"), "5000000000\n");

    EXPECT_EQ(canonicalJson(ok({"features", "show", "--json", "-d", "1"})),
              canonicalJson(golden("features_forced.json")));
}

TEST_F(ScriptOutput, StatisticsJsonInBothFormats) {
    const int gigabit = attach({"--type", "5"});
    const int tenGigabit = attach({"--type", "11"});
    const std::vector<std::uint64_t> first = {
        1000, 11, 12, 13, 14, 15, 16,        17,     2000, 21,
        22,   23, 24, 25, 26, 27, 250000000, 100000, 40,   0x0D0C0B0A03020100ull};
    daemon_.inject({std::to_string(gigabit), "0xCB202010", "--reply-hex", wordsHex(first, 160)});
    daemon_.inject({std::to_string(gigabit), "0xCB202024", "--reply-hex", wordsHex({9}, 8)});
    EXPECT_EQ(canonicalJson(ok({"statistics", "--json", "-d", "0"})),
              canonicalJson(golden("statistics_format1.json")));

    std::vector<std::uint64_t> counters;
    for (std::uint64_t i = 1; i <= 16; ++i) counters.push_back(i * 1000 + i);
    counters[15] = 18446744073709551615ull;
    daemon_.inject(
        {std::to_string(tenGigabit), "0xCB202060", "--reply-hex", wordsHex(counters, 128)});
    const std::string second = ok({"statistics", "--json", "-d", "1"});
    EXPECT_EQ(canonicalJson(second), canonicalJson(golden("statistics_format2.json")));
    EXPECT_EQ(python(second, "d['counters'][15]['value'] == 18446744073709551615"), "True\n")
        << "a 64-bit counter must not pass through a double";
}

TEST_F(ScriptOutput, RatesCountTheLineWithPreambleAndGap) {
    const int handle = attach({"--type", "5"});
    for (int attempt = 0; attempt < 100; ++attempt) {
        if (python(ok({"list", "--json"}), "d['devices'][0]['ports'][0]['link']") == "True\n") {
            break;
        }
    }
    // Over one interval port A carries 1000 good frames of 100 bytes and 10
    // with a bad CRC, and the device drops 5.
    const auto arm = [&] {
        daemon_.inject({std::to_string(handle), "0xCB202010", "--reply-hex",
                        formatOneReply(1000000, 5000, 7, 1)});
        daemon_.inject({std::to_string(handle), "0xCB202010", "--reply-hex",
                        formatOneReply(1000000 + 101000, 6000, 17, 6)});
    };
    arm();
    const std::string json = ok({"statistics", "--rates", "--json", "--interval=1"});
    // Scaled back by the measured interval, each rate gives the counts.
    const std::string counts = python(
        json,
        "[(p['port'], round(p['framesPerSecond'] * d['interval']), "
        "round(p['mbitPerSecond'] * d['interval'] * 1e6 / 8), "
        "round(p['errorsPerSecond'] * d['interval']), round(p['dropsPerSecond'] * d['interval']), "
        "p['link'], p['speedMbps'], p['fullDuplex']) for p in d['ports']]");
    EXPECT_EQ(counts,
              "[('A', 1010, 121200, 10, 5, True, 1000, True), "
              "('B', 0, 0, 0, 0, True, 1000, True)]\n");

    arm();
    const std::string text = ok({"statistics", "--rates", "-d", "0"});
    const std::regex line(
        "Port ([AB]) : +[0-9.]+ frames/s +[0-9.]+ Mbit/s +[0-9.]+ errors/s +[0-9.]+ drops/s  "
        "link 1000 Mbit/s full duplex\n");
    const std::string lines = text.substr(kDetected.size());
    EXPECT_EQ(text.substr(0, kDetected.size()), kDetected);
    std::smatch match;
    ASSERT_TRUE(std::regex_search(lines, match, line)) << text;
    EXPECT_EQ(match[1], "A");
    EXPECT_EQ(std::distance(std::sregex_iterator(lines.begin(), lines.end(), line),
                            std::sregex_iterator()),
              2)
        << text;
}

TEST_F(ScriptOutput, ScriptOptionsAreCheckedLikeTheOthers) {
    attach({"--type", "5"});
    const ts::ProcessResult detached = run({"statistics", "--rates", "--interval", "5"});
    EXPECT_EQ(detached.err, "beamctl: --interval takes its value attached: use --interval=5\n");
    EXPECT_EQ(detached.out, golden("usage_statistics_script.txt"));
    EXPECT_EQ(detached.exitStatus, kFailureStatus);
    for (const char* interval : {"--interval=0", "--interval=86401", "--interval=4294968"}) {
        const ts::ProcessResult refused = run({"statistics", "--rates", interval});
        EXPECT_EQ(refused.out, golden("usage_statistics_script.txt")) << interval;
        EXPECT_EQ(refused.exitStatus, kFailureStatus) << interval;
    }
    const ts::ProcessResult extra = run({"features", "show", "--json", "--inline"});
    EXPECT_EQ(extra.exitStatus, kFailureStatus);
    EXPECT_EQ(extra.out.rfind("beamctl features show [-d|--device=<n>] [--json]\n", 0), 0u)
        << extra.out;
}

// ---------------------------------------------------------------------------
// Shell completion

using Completion = WithDriver;

TEST_F(Completion, OffersWordsOptionsAndTheAttachedMacs) {
    attach({"--type", "5", "--mac", "00:1b:c5:0a:00:01"});
    attach({"--type", "11", "--mac", "02:00:00:00:00:0b"});
    const std::string folder =
        std::string(BEAMCTL_PATH).substr(0, std::string(BEAMCTL_PATH).rfind('/'));
    const auto complete = [&](const std::string& words, int current) {
        const std::string script = std::string("source ") + BEAMCTL_COMPLETION + "\nCOMP_WORDS=(" +
                                   words + ")\nCOMP_CWORD=" + std::to_string(current) +
                                   "\n_beamctl\nprintf '%s\\n' \"${COMPREPLY[@]}\"\n";
        const ts::ProcessResult result =
            ts::runProcess({"/bin/bash", "-c", script}, 20s,
                           {daemon_.controlEnv(), "PATH=" + folder + ":/usr/bin:/bin"});
        EXPECT_EQ(result.exitStatus, 0) << result.err;
        return result.out;
    };
    EXPECT_EQ(complete("beamctl stat", 1), "statistics\n");
    EXPECT_EQ(complete("beamctl directcapture st", 2), "start\nstop\nstatus\n");
    EXPECT_EQ(complete("beamctl statistics --ra", 2), "--rates\n");
    EXPECT_EQ(complete("beamctl features show --j", 3), "--json\n");
    EXPECT_EQ(complete("beamctl features show -d ''", 4), "00:1b:c5:0a:00:01\n02:00:00:00:00:0b\n");
    EXPECT_EQ(complete("beamctl help statistics -d 02", 4), "02:00:00:00:00:0b\n");
    EXPECT_EQ(complete("beamctl filter t", 2), "types\n");
    EXPECT_EQ(complete("beamctl filter types ''", 3), "show\nset\n");
    EXPECT_EQ(complete("beamctl filter types set --e", 4), "--enable=\n");
    EXPECT_EQ(complete("beamctl filter types show --j", 4), "--json\n");
    EXPECT_EQ(complete("beamctl fir", 1), "firmware\n");
    EXPECT_EQ(complete("beamctl counters r", 2), "reset\n");
    EXPECT_EQ(complete("beamctl time set --s", 3), "--sntp=\n");
    EXPECT_EQ(complete("beamctl firmware update --f", 3), "--force\n");
    EXPECT_EQ(complete("beamctl filter ''", 2), "types\nheader\n");
    EXPECT_EQ(complete("beamctl filter header ''", 3), "show\nset\n");
    EXPECT_EQ(complete("beamctl filter header show --j", 4), "--json\n");
    EXPECT_EQ(complete("beamctl filter header set --src-", 4),
              "--src-mac=\n--src-ip=\n--src-port=\n");
    EXPECT_EQ(complete("beamctl filter header set --ip-", 4), "--ip-version=\n--ip-mode=\n");
    EXPECT_EQ(complete("beamctl counters set --ad", 3), "--address=\n");
}

// ---------------------------------------------------------------------------
// ports

using Ports = WithDriver;

TEST_F(Ports, SetChangesOnlyTheNamedPortAndReadsBack) {
    attach({"--type", "5"});
    EXPECT_EQ(ok({"ports", "show"}), kDetected + golden("ports_default.txt"));
    EXPECT_EQ(ok({"ports", "set", "--port=b", "--autoneg=off", "--modes=100FD,10fd", "--pause=none",
                  "--role=slave"}),
              kDetected);
    EXPECT_EQ(ok({"ports", "set", "--port=A", "--role=master", "--save"}), kDetected);
    EXPECT_EQ(canonicalJson(ok({"ports", "show", "--json"})),
              canonicalJson(golden("ports_changed.json")));
}

// The advertisement is part of the configuration block the features save
// stores, so --save keeps it (unlike the counter definitions, which no
// request saves).
TEST_F(Ports, SaveKeepsTheAdvertisementAcrossARestartOfTheDevice) {
    const int handle = attach({"--type", "5"});
    const auto restartDevice = [&] {
        daemon_.exportControlPath();
        NettlebeamAPIInitialize();
        const auto deadline = std::chrono::steady_clock::now() + 10s;
        std::int32_t status = 0;
        while ((status = NettlebeamAPIRestartDevice(handle)) != 0 &&
               std::chrono::steady_clock::now() < deadline) {
            std::this_thread::sleep_for(10ms);
        }
        NettlebeamAPIUninitialize();
        EXPECT_EQ(status, 0);
    };
    // What `ports show` prints once the restarted device answers again.
    const auto shownAfterRestart = [&] {
        restartDevice();
        ts::ProcessResult shown = run({"ports", "show"});
        const auto deadline = std::chrono::steady_clock::now() + 30s;
        while (shown.exitStatus != 0 && std::chrono::steady_clock::now() < deadline) {
            shown = run({"ports", "show"});
        }
        return shown.out;
    };
    const std::string changedB =
        "Port B : auto-negotiation off, modes 100fd, pause sym,asym, role auto\n";
    EXPECT_EQ(ok({"ports", "set", "--port=B", "--autoneg=off", "--modes=100fd"}), kDetected);
    EXPECT_EQ(shownAfterRestart(), kDetected + golden("ports_default.txt"))
        << "an unsaved change is gone after the restart";
    EXPECT_EQ(ok({"ports", "set", "--port=B", "--autoneg=off", "--modes=100fd", "--save"}),
              kDetected);
    EXPECT_TRUE(contains(shownAfterRestart(), changedB));
}

TEST_F(Ports, RefusesBadValuesAndModelsWithoutSpeedSelection) {
    attach({"--type", "5"});
    attach({"--type", "13"});
    const std::string failed = kDetected + "Failed to set Nettlebeam port speeds\n";
    refused({"ports", "set", "--port=AB", "--modes=1000fd,20hd"}, failed,
            "port A: --modes: '20hd' is not one of 1000fd, 100fd, 100hd, 10fd, 10hd");
    refused({"ports", "set", "--port=B", "--pause=both"}, failed,
            "port B: --pause: 'both' is not one of sym, asym, none");
    refused({"ports", "set", "--port=A", "--role=boss"}, failed,
            "port A: --role: 'boss' is not one of auto, master, slave");
    refused({"ports", "set", "--port=A", "--autoneg=off", "-d", "1"}, failed,
            "this model does not let its port speeds be chosen");
    EXPECT_EQ(ok({"ports", "show"}), kDetected + golden("ports_default.txt"))
        << "no refused change was written";
    const ts::ProcessResult noPort = run({"ports", "set", "--modes=100fd"});
    EXPECT_EQ(noPort.exitStatus, kFailureStatus);
    EXPECT_EQ(noPort.out.rfind("beamctl ports set --port=<A|B|AB>", 0), 0u) << noPort.out;
}

// ---------------------------------------------------------------------------
// counters

class Counters : public WithDriver {
  protected:
    void TearDown() override { NettlebeamAPIUninitialize(); }

    // The sixteen definitions as the library reads them from the daemon,
    // once the device is listed.
    std::vector<NettlebeamApiCounterV2> libraryCounters(int handle) {
        daemon_.exportControlPath();
        NettlebeamAPIInitialize();
        const auto deadline = std::chrono::steady_clock::now() + 10s;
        std::vector<NettlebeamApiCounterV2> counters(NETTLEBEAM_PROGRAMMABLE_COUNTERS);
        for (std::int32_t i = 0; i < NETTLEBEAM_PROGRAMMABLE_COUNTERS; ++i) {
            while (NettlebeamAPIGetCounterV2(handle, i, &counters[i]) != 0) {
                if (std::chrono::steady_clock::now() > deadline) return {};
                std::this_thread::sleep_for(10ms);
            }
        }
        return counters;
    }
};

bool sameDefinition(const NettlebeamApiCounterV2& a, const NettlebeamApiCounterV2& b) {
    return std::memcmp(&a, &b, sizeof a) == 0;
}

// Counter 1 as the device stores it: bytes on port A of TCP over IPv4, not
// broadcast, longer than 1000 bytes, to or from 10.0.*.7.
const std::string kCounterBlock = "0003e80381000700000a0000000000000000000000008602340000000000";

TEST_F(Counters, ShowNamesEachDefinitionAsTheWindowDoes) {
    const int handle = attach({"--type", "11"});
    attach({"--type", "5"});
    daemon_.inject({std::to_string(handle), "0xCB20205C", "--reply-hex", kCounterBlock});
    EXPECT_EQ(ok({"counters", "show"}), kDetected + golden("counters_show.txt"));
    daemon_.inject({std::to_string(handle), "0xCB20205C", "--reply-hex", kCounterBlock});
    const std::string json = ok({"counters", "show", "--json"});
    EXPECT_EQ(python(json,
                     "[(c['counter'], c['mode'], c['portA'], c['portB'], c['ipv4'], c['tcp'], "
                     "c['broadcast'], c['udp'], c['sizeCompare'], c['size'], c['address']) "
                     "for c in d['counters'][:2]]"),
              "[(1, 'bytes', True, False, True, True, False, None, '>', 1000, '10.0.*.7'), "
              "(2, 'packets', False, True, None, None, None, None, None, None, None)]\n");

    refused({"counters", "show", "-d", "1"},
            kDetected + "Your device does not have programmable counters\n",
            "only ten-gigabit models count with programmable counters");
}

// ---------------------------------------------------------------------------
// time

using Time = WithDriver;

// Full fix, 7 of 9 GPS and 4 GLONASS satellites, all three flags, 25 ns
// accuracy, GPS as the source, 2026-12-31 13:05:09 on the device clock.
const std::string kTimingReply = "0307090407000000001900030d05091f0cea07";

TEST_F(Time, ShowGivesTheSourceAndTheReceptionAsTheWindowNamesThem) {
    const int gps = attach({"--type", "9"});
    attach({"--type", "5"});
    daemon_.inject({std::to_string(gps), "0xCB202030", "--reply-hex", kTimingReply});
    EXPECT_EQ(ok({"time", "show"}), kDetected + golden("time_show.txt"));
    daemon_.inject({std::to_string(gps), "0xCB202030", "--reply-hex", kTimingReply});
    EXPECT_EQ(canonicalJson(ok({"time", "show", "--json"})),
              canonicalJson(golden("time_show.json")));
    refused({"time", "show", "-d", "1"}, kDetected + "Your device does not support timing\n",
            "this model has no time source to show");
}

TEST_F(Counters, SetChangesTheNamedFieldsOfOneCounterAndReadsBack) {
    attach({"--type", "11"});
    EXPECT_EQ(ok({"counters", "set", "--counter=2", "--mode=bytes", "--ports=AB", "--tcp=yes",
                  "--broadcast=no", "--size=>1000"}),
              kDetected);
    EXPECT_EQ(ok({"counters", "set", "--counter=16", "--ports=none", "--udp=YES", "--size=any"}),
              kDetected);
    const std::string json = ok({"counters", "show", "--json"});
    EXPECT_EQ(python(json,
                     "[(c['counter'], c['definition']) for c in d['counters'] "
                     "if c['counter'] in (1, 2, 16)]"),
              "[(1, 'packets on A: all'), (2, 'bytes on A+B: not broadcast, TCP, size > 1000'), "
              "(16, 'packets on no port: UDP, dropped')]\n");

    const std::string failed = kDetected + "Failed to set Nettlebeam counter 03\n";
    refused({"counters", "set", "--counter=3", "--size=>65536"}, failed,
            "--size: '>65536' is not any, >N, <N or =N with N from 0 to 65535");
    refused({"counters", "set", "--counter=3", "--udp=maybe"}, failed,
            "--udp: 'maybe' is not yes, no or any");
    refused({"counters", "set", "--counter=3", "--mode=frames"}, failed,
            "--mode: 'frames' is not packets or bytes");
    refused({"counters", "set", "--counter=17", "--tcp=yes"},
            kDetected + "Failed to set Nettlebeam counter\n",
            "--counter: 17 is not between 1 and 16");
    EXPECT_NE(ok({"counters", "show"}).find("Counter 03 : bytes on A: all\n"), std::string::npos)
        << "no refused change was written";
}

TEST_F(Counters, ResetWritesBackWhatTheDeviceStartedWith) {
    const int handle = attach({"--type", "11"});
    const std::vector<NettlebeamApiCounterV2> started = libraryCounters(handle);
    ASSERT_EQ(started.size(), 16u);
    NettlebeamAPIUninitialize();
    const std::string shownAtStart = ok({"counters", "show"});
    for (const char* number : {"--counter=2", "--counter=5", "--counter=13"}) {
        ok({"counters", "set", number, "--mode=bytes", "--ports=none", "--tcp=no", "--size==64"});
    }
    EXPECT_EQ(ok({"counters", "reset", "--counter=5"}), kDetected);
    std::vector<NettlebeamApiCounterV2> now = libraryCounters(handle);
    ASSERT_EQ(now.size(), 16u);
    NettlebeamAPIUninitialize();
    EXPECT_TRUE(sameDefinition(now[4], started[4]));
    EXPECT_FALSE(sameDefinition(now[1], started[1])) << "only the named counter is reset";
    EXPECT_FALSE(sameDefinition(now[12], started[12])) << "only the named counter is reset";

    EXPECT_EQ(ok({"counters", "reset"}), kDetected);
    now = libraryCounters(handle);
    ASSERT_EQ(now.size(), 16u);
    for (std::size_t i = 0; i < now.size(); ++i) {
        EXPECT_TRUE(sameDefinition(now[i], started[i])) << "counter " << i + 1;
    }
    EXPECT_EQ(ok({"counters", "show"}), shownAtStart);
}

TEST_F(Counters, ResetAndSaveRefusals) {
    attach({"--type", "11"});
    attach({"--type", "5"});
    refused({"counters", "reset", "--counter=0"},
            kDetected + "Failed to reset Nettlebeam counter\n",
            "--counter: 0 is not between 1 and 16");
    refused({"counters", "reset", "-d", "1"},
            kDetected + "Your device does not have programmable counters\n",
            "only ten-gigabit models count with programmable counters");
    // No save request exists for the definitions: nothing reaches the device.
    const std::string cannotSave =
        "--save: the device cannot keep counter definitions across restarts; it starts again "
        "from its power-on definitions";
    refused({"counters", "set", "--counter=3", "--tcp=yes", "--save"},
            "Failed to save Nettlebeam counters\n", cannotSave);
    refused({"counters", "reset", "--save"}, "Failed to save Nettlebeam counters\n", cannotSave);
    EXPECT_NE(ok({"counters", "show"}).find("Counter 03 : bytes on A: all\n"), std::string::npos)
        << "the refused set was not written";
}

}  // namespace

// ---------------------------------------------------------------------------
// filter types

class FilterTypes : public WithDriver {
  protected:
    void TearDown() override { NettlebeamAPIUninitialize(); }

    // The filter as the library reads it from the daemon, once the device is
    // listed; the tool's own report is not trusted to check itself.
    std::optional<NettlebeamApiPacketsTypeFilter> libraryFilter(int handle) {
        daemon_.exportControlPath();
        NettlebeamAPIInitialize();
        const auto deadline = std::chrono::steady_clock::now() + 10s;
        NettlebeamApiPacketsTypeFilter filter{};
        while (NettlebeamAPIGetPacketsTypeFilter(handle, &filter) != 0) {
            if (std::chrono::steady_clock::now() > deadline) return std::nullopt;
            std::this_thread::sleep_for(10ms);
        }
        return filter;
    }

    // The classes that are off, as indexes into the record.
    static std::vector<int> offClasses(const NettlebeamApiPacketsTypeFilter& filter) {
        std::vector<int> off;
        for (int i = 0; i < NETTLEBEAM_PACKET_TYPE_CLASSES; ++i) {
            if (filter.flags[i] == 0) off.push_back(i);
        }
        return off;
    }
};

TEST_F(FilterTypes, SetChangesTheNamedClassesAndReadsBackThroughTheLibrary) {
    const int handle = attach({"--type", "11", "--hw-fw", "220"});
    EXPECT_EQ(ok({"filter", "types", "show"}), kDetected + golden("filter_types_default.txt"));
    EXPECT_EQ(ok({"filter", "types", "set", "--disable=TCP,quic,l2-other,tcp-zero-window"}),
              kDetected);
    EXPECT_EQ(
        ok({"filter", "types", "set", "--enable=Quic,tcp-zero-window", "--disable=ipv6", "--save"}),
        kDetected);
    EXPECT_EQ(python(ok({"filter", "types", "show", "--json"}),
                     "[name for name, on in d['types'].items() if not on]"),
              "['ipv6', 'tcp', 'l2-other']\n");
    const auto filter = libraryFilter(handle);
    ASSERT_TRUE(filter.has_value());
    // IPv6, TCP and other layer 2 in the record's order.
    EXPECT_EQ(offClasses(*filter), (std::vector<int>{1, 3, 24}));
}

TEST_F(FilterTypes, RefusesUnknownNamesAndDevicesWithoutTheFilter) {
    const int handle = attach({"--type", "11", "--hw-fw", "220"});
    attach({"--type", "11", "--hw-fw", "219"});
    attach({"--type", "5"});
    const std::string failed = kDetected + "Failed to set Nettlebeam packet type filter\n";
    refused({"filter", "types", "set", "--disable=tcp,telnet"}, failed,
            "--disable: 'telnet' is not a packet type (one of ipv4, ipv6, arp, tcp, udp, icmp, "
            "igmp, https, http, ftp, dns, smtp, pop3, dhcp, ssh, sip, smb, tcp-fin, tcp-syn, "
            "tcp-rst, tcp-push, tcp-ack, tcp-zero-window, quic, l2-other, l4-other)");
    refused({"filter", "types", "set", "--enable=udp,"}, failed,
            "--enable: '' is not a packet type (one of ipv4, ipv6, arp, tcp, udp, icmp, igmp, "
            "https, http, ftp, dns, smtp, pop3, dhcp, ssh, sip, smb, tcp-fin, tcp-syn, tcp-rst, "
            "tcp-push, tcp-ack, tcp-zero-window, quic, l2-other, l4-other)");
    refused({"filter", "types", "set", "--enable=dns", "--disable=udp,DNS"}, failed,
            "'dns' is named by both --enable and --disable");
    const std::string without =
        "only ten-gigabit models with hardware firmware 220 or later "
        "filter by packet type";
    refused({"filter", "types", "show", "-d", "1"},
            kDetected + "Your device does not have a packet type filter\n", without);
    refused({"filter", "types", "set", "--disable=udp", "-d", "2"},
            kDetected + "Your device does not have a packet type filter\n", without);
    const auto filter = libraryFilter(handle);
    ASSERT_TRUE(filter.has_value());
    EXPECT_EQ(offClasses(*filter), std::vector<int>{}) << "no refused change was written";

    const ts::ProcessResult usage = run({"filter", "types", "set", "--enable"});
    EXPECT_EQ(usage.exitStatus, kFailureStatus);
    EXPECT_EQ(usage.out.rfind("beamctl filter types set [--enable=<name,...>]", 0), 0u)
        << usage.out;
}

// ---------------------------------------------------------------------------
// time set

namespace {

// A loopback UDP port nothing listens on (free when it was looked up).
std::uint16_t freeUdpPort() {
    const int probe = ::socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    ::bind(probe, reinterpret_cast<sockaddr*>(&address), sizeof address);
    ::getsockname(probe, reinterpret_cast<sockaddr*>(&address), &length);
    ::close(probe);
    return ntohs(address.sin_port);
}

// chronyd serving its own clock on a free loopback port, run in the
// foreground with everything it writes in a temporary folder; the system's
// chrony is left alone.
class LocalChrony {
  public:
    explicit LocalChrony(const std::string& folder) : port_(freeUdpPort()) {
        const std::string config = folder + "/chrony.conf";
        std::ofstream(config) << "port " << port_
                              << "\nbindaddress 127.0.0.1\nlocal stratum 1\nallow 127.0.0.1\n"
                                 "cmdport 0\npidfile "
                              << folder << "/chronyd.pid\ndriftfile " << folder
                              << "/chrony.drift\n";
        log_ = folder + "/chronyd.log";
        std::vector<std::string> args = {"/usr/sbin/chronyd", "-x", "-d", "-f", config};
        if (::getuid() == 0) args.insert(args.end(), {"-u", "root"});
        // Everything the child needs is made before the fork: it only opens,
        // duplicates and executes.
        std::vector<char*> argv;
        for (std::string& arg : args) argv.push_back(arg.data());
        argv.push_back(nullptr);
        const int out = ::open(log_.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
        pid_ = ::fork();
        if (pid_ == 0) {
            ::dup2(out, 1);
            ::dup2(out, 2);
            ::execv(argv[0], argv.data());
            ::_exit(127);
        }
        if (out >= 0) ::close(out);
    }
    ~LocalChrony() {
        if (pid_ <= 0) return;
        ::kill(pid_, SIGTERM);
        ::waitpid(pid_, nullptr, 0);
    }
    LocalChrony(const LocalChrony&) = delete;
    LocalChrony& operator=(const LocalChrony&) = delete;

    std::string server() const { return "127.0.0.1:" + std::to_string(port_); }
    std::string log() const { return fileText(log_); }
    // Waits until it answers a query (it reads its configuration first).
    bool serving() const {
        const auto deadline = std::chrono::steady_clock::now() + 20s;
        const beamctl::SntpServer target{"127.0.0.1", std::to_string(port_)};
        while (std::chrono::steady_clock::now() < deadline) {
            if (std::holds_alternative<beamctl::SntpAnswer>(beamctl::querySntp(target, 200ms))) {
                return true;
            }
        }
        return false;
    }

  private:
    std::uint16_t port_ = 0;
    std::string log_;
    pid_t pid_ = -1;
};

// The device clock of a timing status in Unix seconds.
std::int64_t deviceClock(const NettlebeamApiTimingStatus& status) {
    std::tm tm{};
    tm.tm_year = status.rtcYear - 1900;
    tm.tm_mon = status.rtcMonth - 1;
    tm.tm_mday = status.rtcDay;
    tm.tm_hour = status.rtcHour;
    tm.tm_min = status.rtcMinute;
    tm.tm_sec = status.rtcSecond;
    return timegm(&tm);
}

class TimeSet : public WithDriver {
  protected:
    void TearDown() override { NettlebeamAPIUninitialize(); }

    // The timing status as the library reads it, once `done` holds for it.
    std::optional<NettlebeamApiTimingStatus> libraryTiming(
        int handle, const std::function<bool(const NettlebeamApiTimingStatus&)>& done) {
        daemon_.exportControlPath();
        NettlebeamAPIInitialize();
        const auto deadline = std::chrono::steady_clock::now() + 30s;
        NettlebeamApiTimingStatus status{};
        while (NettlebeamAPIGetTimingStatus(handle, &status) != 0 || !done(status)) {
            if (std::chrono::steady_clock::now() > deadline) return std::nullopt;
            std::this_thread::sleep_for(10ms);
        }
        NettlebeamAPIUninitialize();
        return status;
    }
    std::optional<NettlebeamApiTimingStatus> libraryTiming(int handle) {
        return libraryTiming(handle, [](const NettlebeamApiTimingStatus&) { return true; });
    }
    // Sets the device clock as a manual time through the library, once the
    // device is listed; the status of the set.
    std::int32_t setManualTime(int handle, std::int32_t unixSeconds) {
        daemon_.exportControlPath();
        NettlebeamAPIInitialize();
        const auto deadline = std::chrono::steady_clock::now() + 10s;
        std::int32_t status = 0;
        while ((status = NettlebeamAPISetTimingTime(
                    handle, NettlebeamApiTimingTime{4, unixSeconds, unixSeconds})) ==
                   NETTLEBEAM_STATUS_UNKNOWN_HANDLE &&
               std::chrono::steady_clock::now() < deadline) {
            std::this_thread::sleep_for(10ms);
        }
        NettlebeamAPIUninitialize();
        return status;
    }
};

}  // namespace

TEST_F(TimeSet, FromSntpSetsTheServersSecondAndPrintsTheOffsetApplied) {
    LocalChrony chrony(daemon_.folder());
    ASSERT_TRUE(chrony.serving()) << chrony.log();
    const int gps = attach({"--type", "9"});
    // Put the device clock 100 s behind, as a manual time would.
    ASSERT_EQ(setManualTime(gps, static_cast<std::int32_t>(std::time(nullptr) - 100)), 0);

    const ts::ProcessResult result = run({"time", "set", "--sntp=" + chrony.server()});
    EXPECT_EQ(result.exitStatus, 0) << result.out << result.err;
    EXPECT_EQ(result.err, "");
    const std::regex expected(kDetected + "Time source : SNTP \\(" + chrony.server() +
                              "\\)\nDevice clock : [0-9]{4}-[0-9]{2}-[0-9]{2} "
                              "[0-9]{2}:[0-9]{2}:[0-9]{2} \\(UTC\\)\nOffset applied : "
                              "\\+(99|100|101) s\n");
    EXPECT_TRUE(std::regex_match(result.out, expected)) << result.out;

    const auto status = libraryTiming(gps);
    ASSERT_TRUE(status.has_value());
    EXPECT_EQ(status->timeSource, 5) << "SNTP";
    EXPECT_LE(std::llabs(deviceClock(*status) - std::time(nullptr)), 2)
        << "the device clock follows the server's (the host's) again";
}

TEST_F(TimeSet, FromGpsOnceTheReceiverHasAFix) {
    const int gps = attach({"--type", "9"});
    // A status without a fix, then one without a receiver: refused before
    // the device is asked to take a time it does not have.
    daemon_.inject({std::to_string(gps), "0xCB202030", "--reply-hex",
                    "0100000000000000000000010d05091f0cea07"});
    refused({"time", "set", "--gps"}, kDetected + "Failed to set Nettlebeam time\n",
            "the GPS receiver has no fix yet (`beamctl time show` gives the reception)");
    daemon_.inject({std::to_string(gps), "0xCB202030", "--reply-hex",
                    "fe00000000000000000000010d05091f0cea07"});
    refused({"time", "set", "--gps"}, kDetected + "Failed to set Nettlebeam time\n",
            "this device has no GPS receiver");

    ASSERT_TRUE(libraryTiming(gps, [](const auto& s) { return s.gpsFix > 0; }).has_value());
    EXPECT_EQ(ok({"time", "set", "--gps"}), kDetected + "Time source : GPS\n");
    const auto status = libraryTiming(gps);
    ASSERT_TRUE(status.has_value());
    EXPECT_EQ(status->timeSource, 2) << "GPS";
}

TEST_F(TimeSet, RefusesMissingOrBadSourcesServersThatDoNotAnswerAndModelsWithoutAClock) {
    const int gps = attach({"--type", "9"});
    attach({"--type", "5"});
    const std::string failed = "Failed to set Nettlebeam time\n";
    refused({"time", "set"}, failed, "give one of --gps or --sntp=SERVER");
    refused({"time", "set", "--gps", "--sntp=127.0.0.1"}, failed,
            "give one of --gps or --sntp=SERVER");
    refused({"time", "set", "--sntp=127.0.0.1:123456"}, failed,
            "--sntp: '123456' is not a port from 1 to 65535");
    // A free port: the request comes back as refused by the host.
    const std::string nobody = "127.0.0.1:" + std::to_string(freeUdpPort());
    refused({"time", "set", "--sntp=" + nobody}, kDetected + failed,
            "SNTP server " + nobody + ": no reply from " + nobody + ": Connection refused");
    refused({"time", "set", "--gps", "-d", "1"},
            kDetected + "Your device does not support timing\n", "this model has no clock to set");
    const auto status = libraryTiming(gps);
    ASSERT_TRUE(status.has_value());
    EXPECT_NE(status->timeSource, 5) << "no refused set reached the device";
}

// ---------------------------------------------------------------------------
// firmware update

namespace {

// A firmware file for image tag `tag` ("KV7P") whose one image announces
// `software` and `hardware`, as simulated hardware reads its versions.
std::vector<std::uint8_t> firmwareFile(const char (&tag)[5], std::array<std::uint8_t, 4> software,
                                       std::uint32_t hardware) {
    std::vector<std::uint8_t> image = {'N', 'B', 'F', 'W'};
    image.insert(image.end(), software.begin(), software.end());
    for (int shift = 0; shift < 32; shift += 8) image.push_back(std::uint8_t(hardware >> shift));
    for (int i = 0; image.size() < 3000; ++i) image.push_back(std::uint8_t(i * 7 + 3));
    const std::uint32_t tagValue = std::uint32_t(tag[0]) << 24 | std::uint32_t(tag[1]) << 16 |
                                   std::uint32_t(tag[2]) << 8 | std::uint32_t(tag[3]);
    return nettlebeam::firmware_format::buildFile(tagValue, image, {});
}

class Firmware : public WithDriver {
  protected:
    void TearDown() override { NettlebeamAPIUninitialize(); }

    std::string write(const std::string& name, const std::vector<std::uint8_t>& bytes) {
        const std::string path = daemon_.folder() + "/" + name;
        std::ofstream(path, std::ios::binary)
            .write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
        return path;
    }
    // Restarts the device through the library and returns the versions it
    // reports once it runs `software` (or whatever it runs when the wait ends).
    NettlebeamApiVersions versionsAfterRestart(int handle, std::array<std::uint8_t, 4> software) {
        daemon_.exportControlPath();
        NettlebeamAPIInitialize();
        const auto deadline = std::chrono::steady_clock::now() + 30s;
        while (NettlebeamAPIRestartDevice(handle) != 0 &&
               std::chrono::steady_clock::now() < deadline) {
            std::this_thread::sleep_for(10ms);
        }
        NettlebeamApiVersions versions{};
        while (std::chrono::steady_clock::now() < deadline) {
            if (NettlebeamAPIGetVersions(handle, &versions) == 0 &&
                std::equal(software.begin(), software.end(), versions.swFirmwareVersion)) {
                break;
            }
            std::this_thread::sleep_for(10ms);
        }
        return versions;
    }
};

const std::string kFailedUpdate = "Failed to update Nettlebeam firmware\n";

}  // namespace

TEST_F(Firmware, UpdateReportsEachPercentAndTheDeviceRunsTheNewVersionsAfterARestart) {
    const int handle = attach({"--type", "5", "--sw-fw", "1.2.0.0", "--hw-fw", "210"});
    // A name beyond ASCII: the library takes it in UTF-16.
    const std::string file =
        write("neue-\u00e9\U0001F600.bin", firmwareFile("KV7P", {1, 3, 0, 0}, 220));
    const ts::ProcessResult result = run({"firmware", "update", file}, 60s);
    ASSERT_EQ(result.exitStatus, 0) << result.out << result.err;
    EXPECT_EQ(result.err, "");
    const std::string head =
        kDetected + "Firmware : 1.2.0.0 (hardware 210) to 1.3.0.0 (hardware 220)\n";
    const std::string tail =
        "100%\nFirmware update done: the device runs it from its next restart\n";
    ASSERT_EQ(result.out.rfind(head, 0), 0u) << result.out;
    ASSERT_GE(result.out.size(), head.size() + tail.size());
    EXPECT_EQ(result.out.substr(result.out.size() - tail.size()), tail);
    // One line per change, rising.
    std::istringstream lines(result.out.substr(head.size()));
    std::string percentLine;
    int last = -1;
    while (std::getline(lines, percentLine) && percentLine.back() == '%') {
        const int percent = std::stoi(percentLine);
        EXPECT_GT(percent, last) << result.out;
        last = percent;
    }
    EXPECT_EQ(last, 100);

    const NettlebeamApiVersions versions = versionsAfterRestart(handle, {1, 3, 0, 0});
    EXPECT_EQ(std::vector<int>(versions.swFirmwareVersion, versions.swFirmwareVersion + 4),
              (std::vector<int>{1, 3, 0, 0}));
    EXPECT_EQ(versions.hwFirmwareVersion, 220u);
}

TEST_F(Firmware, RefusesOtherModelsDamagedFilesAndDowngradesUnlessForced) {
    const int handle = attach({"--type", "5", "--sw-fw", "1.2.0.0", "--hw-fw", "210"});
    refused({"firmware", "update", write("ten.bin", firmwareFile("KVTX", {1, 3, 0, 0}, 220))},
            kDetected + kFailedUpdate,
            "the file is for Ten-Gigabit (image tag KVTX), the device is a Gigabit Gen2 (image "
            "tag KV7P)");
    std::vector<std::uint8_t> damaged = firmwareFile("KV7P", {1, 3, 0, 0}, 220);
    damaged.back() ^= 1;
    refused({"firmware", "update", write("damaged.bin", damaged)}, kDetected + kFailedUpdate,
            "the file is not a firmware image: its CRC-32 does not match its contents");
    refused({"firmware", "update", daemon_.folder()}, kFailedUpdate,
            daemon_.folder() + " is not a regular file");
    refused(
        {"firmware", "update", write("latin1-\xe9.bin", firmwareFile("KV7P", {1, 3, 0, 0}, 220))},
        kFailedUpdate, "the file name is not UTF-8, which the library takes");
    // Newer in neither part: older software with older hardware firmware.
    const std::string older = write("older.bin", firmwareFile("KV7P", {1, 1, 9, 9}, 200));
    refused({"firmware", "update", older}, kDetected + kFailedUpdate,
            "the file holds 1.1.9.9 (hardware 200), not newer than the device's 1.2.0.0 "
            "(hardware 210); --force sends it anyway");
    refused({"firmware", "update", write("same.bin", firmwareFile("KV7P", {1, 2, 0, 0}, 210))},
            kDetected + kFailedUpdate,
            "the device already runs 1.2.0.0 (hardware 210); --force sends the file again");
    std::vector<std::uint8_t> silent = firmwareFile("KV7P", {1, 3, 0, 0}, 220);
    silent[16] = 'X';  // the image no longer announces its versions
    silent = nettlebeam::firmware_format::buildFile(0x4B563750, std::span(silent).subspan(16), {});
    refused({"firmware", "update", write("silent.bin", silent)}, kDetected + kFailedUpdate,
            "the file announces no firmware version, so it may be older than the device's; "
            "--force sends it anyway");
    // The device refusing the upload is named as such (after what progress
    // the library saw before).
    daemon_.inject({std::to_string(handle), "0xCB202400", "--fail"});
    const ts::ProcessResult failed = run({"firmware", "update", older, "--force"});
    EXPECT_EQ(failed.exitStatus, kFailureStatus);
    EXPECT_TRUE(std::regex_match(
        failed.out, std::regex(kDetected +
                               "Firmware : 1\\.2\\.0\\.0 \\(hardware 210\\) to 1\\.1\\.9\\.9 "
                               "\\(hardware 200\\)\n(0%\n)?" +
                               kFailedUpdate)))
        << failed.out;
    EXPECT_EQ(failed.err,
              "beamctl: the device refused: status -1 (the driver could not be reached, failed "
              "the request or sent an invalid reply)\n");

    const ts::ProcessResult forced = run({"firmware", "update", older, "--force"}, 60s);
    EXPECT_EQ(forced.exitStatus, 0) << forced.out << forced.err;
    EXPECT_TRUE(contains(forced.out, "Firmware update done")) << forced.out;
    const NettlebeamApiVersions versions = versionsAfterRestart(handle, {1, 1, 9, 9});
    EXPECT_EQ(versions.swFirmwareVersion[2], 9) << "the forced downgrade reached the device";
}

TEST_F(Firmware, OnATerminalOneBarIsRedrawnInPlace) {
    attach({"--type", "5", "--sw-fw", "1.2.0.0", "--hw-fw", "210"});
    const std::string file = write("new.bin", firmwareFile("KV7P", {1, 3, 0, 0}, 220));
    // Python's pty gives beamctl a terminal and copies what it writes there.
    const std::string script =
        "import os, pty, sys\nstatus = pty.spawn(sys.argv[1:])\n"
        "sys.exit(os.waitstatus_to_exitcode(status))\n";
    const ts::ProcessResult result =
        ts::runProcess({PYTHON3_PATH, "-c", script, BEAMCTL_PATH, "firmware", "update", file}, 60s,
                       {daemon_.controlEnv()});
    ASSERT_EQ(result.exitStatus, 0) << result.out << result.err;
    // The terminal turns each "\n" into "\r\n".
    EXPECT_TRUE(contains(result.out, "hardware 220)\r\n\r[")) << result.out;
    EXPECT_TRUE(contains(result.out,
                         "\r[########################################] 100%\r\n"
                         "Firmware update done"))
        << result.out;
    EXPECT_FALSE(contains(result.out, "%\r\n\r[")) << "one line, redrawn: " << result.out;
}

// ---------------------------------------------------------------------------
// filter header and counter addresses

namespace {

// The records as the library reads them from the daemon, once the device is
// listed; the tool's own report is not trusted to check itself.
class ThroughLibrary : public WithDriver {
  protected:
    void TearDown() override { NettlebeamAPIUninitialize(); }

    void startLibrary(int handle) {
        if (started_) return;
        daemon_.exportControlPath();
        NettlebeamAPIInitialize();
        started_ = true;
        // Waits until the library has listed the device.
        const auto deadline = std::chrono::steady_clock::now() + 10s;
        NettlebeamApiDeviceType type = 0;
        while (NettlebeamAPIGetDeviceType(handle, &type) != 0) {
            ASSERT_LT(std::chrono::steady_clock::now(), deadline) << "device not listed";
            std::this_thread::sleep_for(10ms);
        }
    }
    std::optional<NettlebeamApiPacketFilter> headerFilter(int handle) {
        startLibrary(handle);
        NettlebeamApiPacketFilter filter{};
        if (NettlebeamAPIGetPacketFilter(handle, &filter) != 0) return std::nullopt;
        return filter;
    }
    std::optional<NettlebeamApiCounterV2> counter(int handle, int index) {
        startLibrary(handle);
        NettlebeamApiCounterV2 counter{};
        if (NettlebeamAPIGetCounterV2(handle, index, &counter) != 0) return std::nullopt;
        return counter;
    }

  private:
    bool started_ = false;
};

// The 48 care bits of a filter record.
std::uint64_t careBits(const NettlebeamApiPacketFilter& filter) {
    return (filter.careMaskLow & 0x0FFFFFFFu) |
           (std::uint64_t{filter.careMaskHigh & 0xFFFFFu} << 28);
}

using FilterHeader = ThroughLibrary;

TEST_F(FilterHeader, SetWritesTheFieldsInUseAndReadsBackThroughTheLibrary) {
    const int handle = attach({"--type", "11"});
    EXPECT_EQ(ok({"filter", "header", "show"}), kDetected + golden("filter_header_default.txt"));
    EXPECT_EQ(ok({"filter", "header", "set", "--enabled=yes", "--src-mac=00:1B:**:**:**:01",
                  "--src-ip=192.168.*.*", "--dst-ip=10.0.0.1", "--dst-port=443", "--src-port=off"}),
              kDetected);
    auto filter = headerFilter(handle);
    ASSERT_TRUE(filter.has_value());
    EXPECT_EQ(filter->enabled, 1);
    EXPECT_EQ(filter->fieldFlags,
              static_cast<std::uint32_t>(NETTLEBEAM_FILTER_SRC_MAC | NETTLEBEAM_FILTER_SRC_IP |
                                         NETTLEBEAM_FILTER_DST_IP | NETTLEBEAM_FILTER_DST_PORT));
    EXPECT_EQ(filter->eitherDirection, 0);
    EXPECT_EQ(filter->srcMac[5], 0x00);  // last byte first
    EXPECT_EQ(filter->srcMac[4], 0x1b);
    EXPECT_EQ(filter->srcMac[0], 0x01);
    EXPECT_EQ(filter->srcIp[3], 192);
    EXPECT_EQ(filter->srcIp[2], 168);
    EXPECT_EQ(filter->dstIp[3], 10);
    EXPECT_EQ(filter->dstIp[0], 1);
    EXPECT_EQ(filter->dstPort, 443);
    // Source MAC bytes 16, 20 and 21 (bits 6, 10, 11); destination IP 22..25
    // (bits 12..15); source IP 40, 41 (bits 30, 31); destination port 54, 55
    // (bits 44, 45).
    EXPECT_EQ(careBits(*filter),
              (0b110001ull << 6) | (0xFull << 12) | (0b11ull << 30) | (0b11ull << 44));

    EXPECT_EQ(ok({"filter", "header", "show"}), kDetected + golden("filter_header_set.txt"));
    EXPECT_EQ(python(ok({"filter", "header", "show", "--json"}),
                     "(d['enabled'], d['ipVersion'], d['macMode'], d['ipMode'], d['portMode'], "
                     "d['srcMac'], d['dstMac'], d['srcIp'], d['dstIp'], d['srcPort'], "
                     "d['dstPort'])"),
              "(True, 4, 'pair', 'pair', 'pair', '00:1b:**:**:**:01', None, '192.168.*.*', "
              "'10.0.0.1', None, 443)\n");

    // IPv6 in either direction: only the source address is given again and
    // written; the filter is turned off and saved.
    EXPECT_EQ(ok({"filter", "header", "set", "--ip-version=6", "--src-ip=fe80::1:*",
                  "--ip-mode=either", "--mac-mode=either", "--enabled=no", "--save"}),
              kDetected);
    filter = headerFilter(handle);
    ASSERT_TRUE(filter.has_value());
    EXPECT_EQ(filter->enabled, 0);
    EXPECT_EQ(filter->fieldFlags & NETTLEBEAM_FILTER_IPV6, 1u);
    EXPECT_EQ(filter->eitherDirection, NETTLEBEAM_FILTER_EITHER_IP | NETTLEBEAM_FILTER_EITHER_MAC);
    EXPECT_EQ(filter->srcIp[15], 0xfe);
    EXPECT_EQ(filter->srcIp[2], 0x01);
    EXPECT_EQ(filter->dstIp[3], 0);  // not used in either direction: not written
    // Every source IP byte but the last, whose low digit is a wildcard (record
    // byte 38, bit 28); nothing of the destination IP.
    EXPECT_EQ((careBits(*filter) >> 28) & 0xFFFF, 0xFFFEu);
    EXPECT_EQ((careBits(*filter) >> 12) & 0xFFFF, 0u);
    EXPECT_EQ(python(ok({"filter", "header", "show", "--json"}),
                     "(d['enabled'], d['ipVersion'], d['macMode'], d['ipMode'], d['srcIp'], "
                     "d['dstIp'])"),
              "(False, 6, 'either', 'either', 'fe80:0000:0000:0000:0000:0000:0001:00**', None)\n");
}

TEST_F(FilterHeader, RefusesBadFieldsDeviceFailuresAndModelsWithoutTheFilter) {
    const int handle = attach({"--type", "11"});
    attach({"--type", "5"});
    const std::string failed = kDetected + "Failed to set Nettlebeam packet filter\n";
    refused({"filter", "header", "set", "--src-mac=00:1b:c5"}, failed,
            "--src-mac: '00:1b:c5' is not a MAC address of six two-digit groups or ** joined by "
            "':', or off");
    refused({"filter", "header", "set", "--dst-ip=10.0.0.256"}, failed,
            "--dst-ip: '10.0.0.256' is not an IPv4 address of four parts, each 0 to 255 or *, "
            "or off");
    refused({"filter", "header", "set", "--ip-version=6", "--src-ip=1::2::3"}, failed,
            "--src-ip: '1::2::3' is not an IPv6 address of up to eight groups of four "
            "hexadecimal digits or *, or off");
    refused({"filter", "header", "set", "--src-port=65536"}, failed,
            "--src-port: '65536' is not a port from 0 to 65535, or off");
    refused({"filter", "header", "set", "--port-mode=either", "--dst-port=80"}, failed,
            "--dst-port: with --port-mode=either only --src-port is used");
    refused({"filter", "header", "set", "--ip-version=5"}, failed,
            "--ip-version: '5' is not 4 or 6");
    const auto filter = headerFilter(handle);
    ASSERT_TRUE(filter.has_value());
    EXPECT_EQ(filter->fieldFlags, 0u) << "no refused change was written";
    EXPECT_EQ(careBits(*filter), 0u);

    refused({"filter", "header", "show", "-d", "1"},
            kDetected + "Your device does not support filtering\n",
            "this model has no packet filter");
    daemon_.inject({std::to_string(handle), "0xCB202064", "--fail"});
    refused({"filter", "header", "show"}, kDetected + "Failed to get Nettlebeam packet filter\n",
            "the device refused: status -2 (already done, or the driver failed the request)");
    daemon_.inject({std::to_string(handle), "0xCB202068", "--fail"});
    refused({"filter", "header", "set", "--enabled=yes"}, failed,
            "the device refused: status -2 (already done, or the driver failed the request)");
    daemon_.inject({std::to_string(handle), "0xCB20206C", "--fail"});
    refused({"filter", "header", "set", "--enabled=yes", "--save"},
            kDetected + "Failed to save Nettlebeam packet filter\n",
            "the device refused: status -1 (the driver could not be reached, failed the request "
            "or sent an invalid reply)");

    const ts::ProcessResult usage = run({"filter", "header", "set", "--src-ip"});
    EXPECT_EQ(usage.exitStatus, kFailureStatus);
    EXPECT_EQ(usage.out.rfind("beamctl filter header set [--enabled=<yes|no>]", 0), 0u)
        << usage.out;
}

using CounterAddress = ThroughLibrary;

TEST_F(CounterAddress, SetTakesTheAddressOfTheRequiredVersionAndReadsBack) {
    const int handle = attach({"--type", "11"});
    EXPECT_EQ(ok({"counters", "set", "--counter=8", "--ipv4=yes", "--address=10.1.*.7"}),
              kDetected);
    auto read = counter(handle, 7);
    ASSERT_TRUE(read.has_value());
    EXPECT_EQ(read->isIPv4, 1);
    EXPECT_EQ(read->ip[3], 10);  // last byte first
    EXPECT_EQ(read->ip[2], 1);
    EXPECT_EQ(read->ip[0], 7);
    EXPECT_NE(read->ipMask[3], 0);
    EXPECT_EQ(read->ipMask[1], 0);
    EXPECT_NE(
        ok({"counters", "show"}).find("Counter 08 : packets on A+B: IPv4, UDP, IP 10.1.*.7\n"),
        std::string::npos);

    const std::string failed = kDetected + "Failed to set Nettlebeam counter 07\n";
    refused({"counters", "set", "--counter=7", "--address=10.1.*.7"}, failed,
            "--address: the counter must require exactly one of IPv4 and IPv6 (--ipv4=yes or "
            "--ipv6=yes) to compare an address");
    refused({"counters", "set", "--counter=8", "--address=fe80::1"},
            kDetected + "Failed to set Nettlebeam counter 08\n",
            "--address: 'fe80::1' is not an IPv4 address of four parts, each 0 to 255 or *, or "
            "any");
    EXPECT_EQ(ok({"counters", "set", "--counter=8", "--address=any"}), kDetected);
    read = counter(handle, 7);
    ASSERT_TRUE(read.has_value());
    EXPECT_EQ(read->ip[3], 0);
    EXPECT_EQ(read->ipMask[3], 0);
}

}  // namespace
