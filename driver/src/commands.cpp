#include "commands.h"

#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <iostream>
#include <map>
#include <optional>
#include <stdexcept>

#include "admin_protocol.h"
#include "byte_order.h"
#include "client.h"
#include "control_path.h"
#include "device_backends.h"
#include "event_record.h"
#include "fault_injection.h"
#include "fleet.h"
#include "frame.h"
#include "netif/tc_redirect.h"
#include "request_codes.h"
#include "request_table.h"
#include "serve.h"
#include "text_parse.h"

namespace nettlebeam::driver {

namespace {

// A command-line mistake or a refused request: one line, then a non-zero exit.
struct CommandError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

// Bytes offered for the line a daemon sends when it refuses an attach.
constexpr uint32_t kReasonRoom = 512;

const char* const kUsage =
    "usage: nettlebeamd COMMAND [--control PATH] ...\n"
    "  serve [--fleet demo|empty|FILE] [--state-dir DIR] [--daemon] [--event-queue-limit N]\n"
    "  attach (--type N | --hwid 0xNN) [--gps yes|no] [--mac aa:bb:cc:dd:ee:ff] [--hw-fw N]\n"
    "         [--sw-fw A.B.C.D] [--driver-version A.B.C.D] [--usb 1|2|3]\n"
    "         [--cage-a sr|lr|empty] [--cage-b sr|lr|empty]\n"
    "         [--traffic PROFILE | --replay FILE [--replay-speed X|max] [--replay-loop]\n"
    "                              [--replay-ports A|B|split]]\n"
    "  attach --interfaces IF_A[,IF_B] [--inline] [--type N] [--mac aa:bb:cc:dd:ee:ff]\n"
    "  detach HANDLE\n"
    "  devices\n"
    "  stop\n"
    "  inject HANDLE|any CODE (--fail | --reply-bytes N | --reply-hex HEX) [--times N]\n"
    "  event KIND HANDLE [--word N] [--error N] [--name TEXT]\n"
    "  request CODE [HANDLE] [--in HEX] [--out N]\n"
    "  clean-redirects\n";

// Splits "--name value" pairs from positional words; every option takes a
// value except the ones listed in `flags`.
struct ParsedArgs {
    std::vector<std::string> positional;
    std::map<std::string, std::string> options;
};

ParsedArgs splitArgs(const std::vector<std::string>& args, const std::vector<std::string>& known,
                     const std::vector<std::string>& flags = {}) {
    ParsedArgs parsed;
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& word = args[i];
        if (word.rfind("--", 0) != 0) {
            parsed.positional.push_back(word);
            continue;
        }
        bool isFlag = std::find(flags.begin(), flags.end(), word) != flags.end();
        if (!isFlag && std::find(known.begin(), known.end(), word) == known.end())
            throw CommandError("unknown option '" + word + "'");
        if (parsed.options.count(word)) throw CommandError("option " + word + " given twice");
        if (isFlag) {
            parsed.options[word] = "";
        } else {
            if (i + 1 >= args.size()) throw CommandError("option " + word + " needs a value");
            parsed.options[word] = args[++i];
        }
    }
    return parsed;
}

uint64_t unsignedArg(const std::string& what, const std::string& text, uint64_t max) {
    auto value = parseUnsigned(text, max);
    if (!value)
        throw CommandError(what + " must be a number up to " + std::to_string(max) + ", not '" +
                           text + "'");
    return *value;
}

int64_t signedArg(const std::string& what, const std::string& text, int64_t min, int64_t max) {
    auto value = parseSigned(text, min, max);
    if (!value)
        throw CommandError(what + " must be a number from " + std::to_string(min) + " to " +
                           std::to_string(max) + ", not '" + text + "'");
    return *value;
}

DeviceHandle handleArg(const std::string& text) {
    return static_cast<DeviceHandle>(signedArg("HANDLE", text, INT32_MIN, INT32_MAX));
}

void expectPositional(const ParsedArgs& parsed, size_t min, size_t max, const char* command) {
    if (parsed.positional.size() < min || parsed.positional.size() > max)
        throw CommandError(std::string("wrong number of arguments for ") + command +
                           " (see nettlebeamd --help)");
}

// One admin request; returns the reply bytes or throws with `failure`.
std::vector<uint8_t> adminRequest(const std::string& path, uint32_t code,
                                  const std::vector<uint8_t>& input, uint32_t capacity,
                                  const std::string& failure) {
    std::vector<uint8_t> output(capacity);
    std::string why;
    int32_t result = wire::transact(path, code, input.data(), static_cast<uint32_t>(input.size()),
                                    output.data(), capacity, -1, &why);
    if (result == wire::kCannotOpen)
        throw CommandError("no nettlebeamd answers on " + path + ": " + why);
    // A reason comes with a failure of the transport (no answer in time, a
    // broken connection), none with a request the daemon refused.
    if (result < 0 && !why.empty())
        throw CommandError("nettlebeamd on " + path + " did not answer: " + why);
    if (result < 0) throw CommandError(failure);
    output.resize(static_cast<size_t>(result));
    return output;
}

int attachCommand(const std::string& path, const std::vector<std::string>& args) {
    auto parsed = parseDeviceSpec(args);
    if (auto* error = std::get_if<std::string>(&parsed)) throw CommandError(*error);
    const DeviceSpec& device = std::get<DeviceSpec>(parsed);
    // Room for the daemon's reason when it refuses.
    auto reply = adminRequest(path, device.backend->attachCode, device.settings, 4 + kReasonRoom,
                              "the daemon refused to attach the device");
    if (reply.size() < 4) throw CommandError("the daemon answered the attach request oddly");
    uint32_t handle = wire::readLe32(reply, 0);
    if (handle == UINT32_MAX) {
        std::string why(reply.begin() + 4, reply.end());
        // One line of text, whatever the daemon sent.
        for (char& c : why)
            if (static_cast<unsigned char>(c) < ' ') c = ' ';
        throw CommandError(why.empty() ? "the daemon refused to attach the device" : why);
    }
    if (reply.size() != 4) throw CommandError("the daemon answered the attach request oddly");
    std::printf("%d\n", static_cast<int32_t>(handle));
    return 0;
}

int detachCommand(const std::string& path, const std::vector<std::string>& args) {
    auto parsed = splitArgs(args, {});
    expectPositional(parsed, 1, 1, "detach");
    DeviceHandle handle = handleArg(parsed.positional[0]);
    std::vector<uint8_t> input(4);
    wire::writeLe32(input, 0, static_cast<uint32_t>(handle));
    adminRequest(path, admin::kDetach, input, 0, "no device with handle " + std::to_string(handle));
    return 0;
}

int devicesCommand(const std::string& path, const std::vector<std::string>& args) {
    expectPositional(splitArgs(args, {}), 0, 0, "devices");
    auto reply =
        adminRequest(path, admin::kDevices, {}, 1 << 20, "the daemon refused to list devices");
    std::fwrite(reply.data(), 1, reply.size(), stdout);
    return 0;
}

int stopCommand(const std::string& path, const std::vector<std::string>& args) {
    expectPositional(splitArgs(args, {}), 0, 0, "stop");
    adminRequest(path, admin::kStop, {}, 0, "the daemon refused to stop");
    // Return once the daemon has let go of the socket.
    for (int i = 0; i < 200 && access(path.c_str(), F_OK) == 0; ++i) usleep(10000);
    return 0;
}

int injectCommand(const std::string& path, const std::vector<std::string>& args) {
    auto parsed = splitArgs(args, {"--reply-bytes", "--reply-hex", "--times"}, {"--fail"});
    expectPositional(parsed, 2, 2, "inject");
    Fault fault;
    if (parsed.positional[0] == "any")
        fault.anyHandle = true;
    else
        fault.handle = handleArg(parsed.positional[0]);
    fault.code = static_cast<uint32_t>(unsignedArg("CODE", parsed.positional[1], UINT32_MAX));
    int actions =
        static_cast<int>(parsed.options.count("--fail") + parsed.options.count("--reply-bytes") +
                         parsed.options.count("--reply-hex"));
    if (actions != 1)
        throw CommandError("give exactly one of --fail, --reply-bytes and --reply-hex");
    if (parsed.options.count("--reply-bytes")) {
        fault.action = Fault::Action::Truncate;
        fault.truncateTo = static_cast<uint32_t>(
            unsignedArg("--reply-bytes", parsed.options["--reply-bytes"], wire::kMaxOutputBytes));
    } else if (parsed.options.count("--reply-hex")) {
        fault.action = Fault::Action::Replace;
        auto bytes = parseHexBytes(parsed.options["--reply-hex"]);
        if (!bytes) throw CommandError("--reply-hex wants pairs of hex digits");
        if (bytes->size() + 24 > wire::kMaxInputBytes)
            throw CommandError("--reply-hex is too long");
        fault.bytes = *bytes;
    }
    if (parsed.options.count("--times"))
        fault.times =
            static_cast<uint32_t>(unsignedArg("--times", parsed.options["--times"], 1000000));
    if (fault.times == 0) throw CommandError("--times must be at least 1");
    std::string target = fault.anyHandle ? "any" : std::to_string(fault.handle);
    adminRequest(path, admin::kInject, encodeFault(fault), 0,
                 "the daemon refused the fault (no device with handle " + target + "?)");
    return 0;
}

int eventCommand(const std::string& path, const std::vector<std::string>& args) {
    auto parsed = splitArgs(args, {"--word", "--error", "--name"});
    expectPositional(parsed, 2, 2, "event");
    EventFields fields;
    fields.kind = static_cast<uint32_t>(unsignedArg("KIND", parsed.positional[0], UINT32_MAX));
    fields.handle = handleArg(parsed.positional[1]);
    if (parsed.options.count("--name")) {
        if (parsed.options.count("--word") || parsed.options.count("--error"))
            throw CommandError(
                "--name shares its bytes with --word and --error: give one or the others");
        auto name = utf8ToUtf16(parsed.options["--name"]);
        if (!name) throw CommandError("--name is not valid UTF-8");
        if (name->size() > (wire::kEventRecordBytes - 12) / 2 - 1)
            throw CommandError("--name is too long for an event record");
        fields.fileName = *name;
    }
    if (parsed.options.count("--word")) {
        fields.word =
            static_cast<uint32_t>(unsignedArg("--word", parsed.options["--word"], UINT32_MAX));
        fields.wordGiven = true;
    }
    if (parsed.options.count("--error"))
        fields.error = signedArg("--error", parsed.options["--error"], INT64_MIN, INT64_MAX);
    adminRequest(path, admin::kEvent, makeEventRecord(fields), 0, "the daemon refused the event");
    return 0;
}

int requestCommand(const std::string& path, const std::vector<std::string>& args) {
    auto parsed = splitArgs(args, {"--in", "--out"});
    expectPositional(parsed, 1, 2, "request");
    auto code = static_cast<uint32_t>(unsignedArg("CODE", parsed.positional[0], UINT32_MAX));
    std::vector<uint8_t> input;
    if (parsed.positional.size() == 2) {
        const auto handle = static_cast<uint32_t>(handleArg(parsed.positional[1]));
        input = {static_cast<uint8_t>(handle), static_cast<uint8_t>(handle >> 8),
                 static_cast<uint8_t>(handle >> 16), static_cast<uint8_t>(handle >> 24)};
    }
    if (parsed.options.count("--in")) {
        auto bytes = parseHexBytes(parsed.options["--in"]);
        if (!bytes) throw CommandError("--in wants pairs of hex digits");
        input.insert(input.end(), bytes->begin(), bytes->end());
    }
    if (input.size() > wire::kMaxInputBytes)
        throw CommandError("the input is longer than a request may carry");
    uint32_t capacity = 65536;
    if (parsed.options.count("--out"))
        capacity = static_cast<uint32_t>(
            unsignedArg("--out", parsed.options["--out"], wire::kMaxOutputBytes));
    std::vector<uint8_t> output(capacity);
    std::string why;
    int32_t result = wire::transact(path, code, input.data(), static_cast<uint32_t>(input.size()),
                                    output.data(), capacity, -1, &why);
    // The result line stays as the library would see it; the reason goes aside.
    if (result == wire::kCannotOpen)
        std::fprintf(stderr, "nettlebeamd: no nettlebeamd answers on %s: %s\n", path.c_str(),
                     why.c_str());
    output.resize(result > 0 ? static_cast<size_t>(result) : 0);
    std::string text = formatRequestOutput(result, output);
    std::fwrite(text.data(), 1, text.size(), stdout);
    return 0;
}

// Takes "--control PATH" out of the arguments; else the usual control path.
wire::ControlLayout takeControlLayout(std::vector<std::string>& args) {
    for (size_t i = 0; i < args.size(); ++i) {
        if (args[i] != "--control") continue;
        if (i + 1 >= args.size()) throw CommandError("option --control needs a value");
        std::string path = args[i + 1];
        args.erase(args.begin() + static_cast<long>(i), args.begin() + static_cast<long>(i) + 2);
        if (path.empty()) throw CommandError("--control needs a non-empty path");
        return wire::explicitControlLayout(path);
    }
    return wire::controlLayout();
}

}  // namespace

std::string formatRequestOutput(int32_t result, const std::vector<uint8_t>& bytes) {
    std::string text = "result " + std::to_string(result) + "\n";
    char hex[4];
    for (size_t i = 0; i < bytes.size(); ++i) {
        std::snprintf(hex, sizeof(hex), "%02x", bytes[i]);
        text += hex;
        text += (i % 16 == 15 || i + 1 == bytes.size()) ? '\n' : ' ';
    }
    return text;
}

int runCommand(std::vector<std::string> args) {
    try {
        if (args.empty()) throw CommandError("no command given (see nettlebeamd --help)");
        std::string command = args[0];
        args.erase(args.begin());
        if (command == "--help" || command == "help" || command == "-h") {
            std::fputs(kUsage, stdout);
            return 0;
        }
        const wire::ControlLayout control = takeControlLayout(args);
        const std::string& path = control.socket;
        if (command == "serve") return serveCommand(control, args);
        if (command == "attach") return attachCommand(path, args);
        if (command == "detach") return detachCommand(path, args);
        if (command == "devices") return devicesCommand(path, args);
        if (command == "stop") return stopCommand(path, args);
        if (command == "inject") return injectCommand(path, args);
        if (command == "event") return eventCommand(path, args);
        if (command == "request") return requestCommand(path, args);
        if (command == "clean-redirects") {
            expectPositional(splitArgs(args, {}), 0, 0, "clean-redirects");
            std::fputs(netif::removeStaleRedirects().c_str(), stdout);
            return 0;
        }
        throw CommandError("unknown command '" + command + "' (see nettlebeamd --help)");
    } catch (const CommandError& error) {
        std::fprintf(stderr, "nettlebeamd: %s\n", error.what());
        return 1;
    } catch (const std::exception& error) {
        std::fprintf(stderr, "nettlebeamd: %s\n", error.what());
        return 1;
    }
}

}  // namespace nettlebeam::driver
