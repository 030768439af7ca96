#include "device_options.h"

#include <cstring>
#include <filesystem>
#include <stdexcept>

#include "byte_order.h"
#include "text_parse.h"
#include "traffic/device_traffic.h"
#include "traffic/traffic_profile.h"

namespace nettlebeam::driver {

namespace {

// Type numbers of the library's device type enumeration, 1 to 14.
constexpr uint8_t kIdentifierOfType[15] = {
    0,     // no device type answers nothing
    0x4A,  // bad firmware
    0x01,  // unknown: any identifier the library does not list
    0x4B, 0x4C, 0x4D, 0x4E, 0x13, 0x11, 0x10, 0x12,
    0x4F,  // ten-gigabit without GPS (the timing status tells)
    0x4F,  // ten-gigabit with GPS
    0x50, 0x15,
};

struct OptionState {
    SimulatedDeviceSettings settings;
    bool typeGiven = false;
    bool hwidGiven = false;
    bool gpsGiven = false;
    bool replayPortsGiven = false;
    unsigned type = 0;
};

// The module names of --cage-a and --cage-b.
std::optional<TransceiverKind> parseCage(const std::string& value) {
    if (value == "sr") return TransceiverKind::ShortReach;
    if (value == "lr") return TransceiverKind::LongReachExternal;
    if (value == "empty") return TransceiverKind::Empty;
    return std::nullopt;
}

std::optional<std::string> applyOption(OptionState& state, const std::string& name,
                                       const std::string& value) {
    SimulatedDeviceSettings& s = state.settings;
    if (name == "--type") {
        auto type = parseUnsigned(value, 14);
        if (!type || !hardwareIdForType(static_cast<unsigned>(*type)))
            return "--type wants a device type from 1 to 14, not '" + value + "'";
        state.typeGiven = true;
        state.type = static_cast<unsigned>(*type);
        s.hardwareId = *hardwareIdForType(state.type);
    } else if (name == "--hwid") {
        auto id = parseUnsigned(value, 255);
        if (!id) return "--hwid wants a byte such as 0x4F, not '" + value + "'";
        state.hwidGiven = true;
        s.hardwareId = static_cast<uint8_t>(*id);
    } else if (name == "--gps") {
        if (value != "yes" && value != "no") return "--gps wants yes or no, not '" + value + "'";
        state.gpsGiven = true;
        s.gps = value == "yes";
    } else if (name == "--mac") {
        auto mac = parseMac(value);
        if (!mac) return "--mac wants aa:bb:cc:dd:ee:ff, not '" + value + "'";
        s.mac = *mac;
    } else if (name == "--hw-fw") {
        auto version = parseUnsigned(value, 0xFFFFFFFF);
        if (!version) return "--hw-fw wants a number, not '" + value + "'";
        s.hwFirmwareVersion = static_cast<uint32_t>(*version);
    } else if (name == "--sw-fw" || name == "--driver-version") {
        auto version = parseDottedVersion(value);
        if (!version) return name + " wants A.B.C.D with numbers 0-255, not '" + value + "'";
        (name == "--sw-fw" ? s.swFirmwareVersion : s.driverVersion) = *version;
    } else if (name == "--traffic") {
        try {
            traffic::parseTrafficProfile(value);
        } catch (const std::invalid_argument& e) {
            return std::string("--traffic: ") + e.what();
        }
        s.traffic = value;
    } else if (name == "--replay") {
        std::error_code ec;
        auto path = std::filesystem::absolute(value, ec);  // the daemon has another directory
        s.replayFile = ec ? value : path.string();
    } else if (name == "--replay-speed") {
        try {
            traffic::parseReplaySpeed({}, value);
        } catch (const std::invalid_argument& e) {
            return e.what();
        }
        s.replaySpeed = value;
    } else if (name == "--replay-ports") {
        auto ports = traffic::parseReplayPorts(value);
        if (!ports) return "--replay-ports wants A, B or split, not '" + value + "'";
        s.replayPorts = *ports;
        state.replayPortsGiven = true;
    } else if (name == "--cage-a" || name == "--cage-b") {
        auto kind = parseCage(value);
        if (!kind) return name + " wants sr, lr or empty, not '" + value + "'";
        s.cages[name == "--cage-a" ? 0 : 1] = *kind;
    } else if (name == "--usb") {
        auto speed = parseUnsigned(value, 3);
        if (!speed || *speed == 0) return "--usb wants 1, 2 or 3, not '" + value + "'";
        s.usbSpeed = static_cast<uint8_t>(*speed);
    } else {
        return "unknown option '" + name + "'";
    }
    return std::nullopt;
}

}  // namespace

std::optional<uint8_t> hardwareIdForType(unsigned type) {
    if (type == 0 || type > 14) return std::nullopt;
    return kIdentifierOfType[type];
}

DeviceOptionsResult parseDeviceOptions(const std::vector<std::string>& args) {
    OptionState state;
    for (size_t i = 0; i < args.size(); i += 2) {
        if (args[i] == "--replay-loop") {  // the one option without a value
            state.settings.replayLoop = true;
            --i;
            continue;
        }
        if (i + 1 >= args.size()) {
            if (args[i].rfind("--", 0) != 0) return "unexpected argument '" + args[i] + "'";
            return "option " + args[i] + " needs a value";
        }
        if (auto error = applyOption(state, args[i], args[i + 1])) return *error;
    }
    if (state.typeGiven == state.hwidGiven)
        return std::string("give exactly one of --type and --hwid");
    const auto& s = state.settings;
    if (!s.traffic.empty() && !s.replayFile.empty())
        return std::string("--traffic and --replay exclude each other");
    if (s.replayFile.empty() && (s.replayLoop || s.replaySpeed != "1" || state.replayPortsGiven))
        return std::string("--replay-speed, --replay-loop and --replay-ports need --replay");
    if (!s.replayFile.empty()) {
        try {  // read the whole file now: a bad one never makes a device
            traffic::ReplaySource check({s.replayFile});
        } catch (const std::runtime_error& e) {
            return e.what();
        }
    }
    if (state.typeGiven && (state.type == 11 || state.type == 12)) {
        bool wantsGps = state.type == 12;
        if (state.gpsGiven && state.settings.gps != wantsGps)
            return "--type " + std::to_string(state.type) + " contradicts --gps " +
                   (state.settings.gps ? "yes" : "no");
        state.settings.gps = wantsGps;
    }
    return state.settings;
}

// Layout: id, gps, has-mac, mac[6], hw-fw (u32 LE), sw-fw[4], driver[4], usb.
constexpr size_t kEncodedSettingsBytes = 22;

std::vector<uint8_t> encodeDeviceSettings(const SimulatedDeviceSettings& s) {
    std::vector<uint8_t> out(kEncodedSettingsBytes, 0);
    out[0] = s.hardwareId;
    out[1] = s.gps ? 1 : 0;
    out[2] = s.mac ? 1 : 0;
    if (s.mac) std::memcpy(&out[3], s.mac->data(), 6);
    wire::writeLe32(out, 9, s.hwFirmwareVersion);
    std::memcpy(&out[13], s.swFirmwareVersion.data(), 4);
    std::memcpy(&out[17], s.driverVersion.data(), 4);
    out[21] = s.usbSpeed;
    // Then the traffic: a byte with the loop flag (bit 0) and the replay
    // ports (bits 1-2), three length-prefixed strings; then, when a cage
    // differs from the usual modules, one byte per cage.
    const bool defaultCages = s.cages == SimulatedDeviceSettings{}.cages;
    if (!s.traffic.empty() || !s.replayFile.empty() || !defaultCages) {
        out.push_back(static_cast<uint8_t>((s.replayLoop ? 1 : 0) |
                                           static_cast<unsigned>(s.replayPorts) << 1));
        for (const std::string* text : {&s.traffic, &s.replayFile, &s.replaySpeed}) {
            const size_t length = std::min<size_t>(text->size(), 0xFFFF);
            out.push_back(static_cast<uint8_t>(length));
            out.push_back(static_cast<uint8_t>(length >> 8));
            out.insert(out.end(), text->begin(), text->begin() + static_cast<long>(length));
        }
        if (!defaultCages)
            for (TransceiverKind cage : s.cages) out.push_back(static_cast<uint8_t>(cage));
    }
    return out;
}

std::optional<SimulatedDeviceSettings> decodeDeviceSettings(const std::vector<uint8_t>& in) {
    if (in.size() < kEncodedSettingsBytes || in[1] > 1 || in[2] > 1) return std::nullopt;
    if (in[21] < 1 || in[21] > 3) return std::nullopt;
    SimulatedDeviceSettings s;
    s.hardwareId = in[0];
    s.gps = in[1] == 1;
    if (in[2] == 1) {
        std::array<uint8_t, 6> mac{};
        std::memcpy(mac.data(), &in[3], 6);
        s.mac = mac;
    }
    s.hwFirmwareVersion = wire::readLe32(in, 9);
    std::memcpy(s.swFirmwareVersion.data(), &in[13], 4);
    std::memcpy(s.driverVersion.data(), &in[17], 4);
    s.usbSpeed = in[21];
    if (in.size() == kEncodedSettingsBytes) return s;
    size_t at = kEncodedSettingsBytes;
    if (in[at] > (static_cast<unsigned>(traffic::ReplayPorts::Split) << 1 | 1)) return std::nullopt;
    s.replayLoop = (in[at] & 1) != 0;
    s.replayPorts = static_cast<traffic::ReplayPorts>(in[at++] >> 1);
    for (std::string* text : {&s.traffic, &s.replayFile, &s.replaySpeed}) {
        if (at + 2 > in.size()) return std::nullopt;
        const size_t length = in[at] | static_cast<size_t>(in[at + 1]) << 8;
        at += 2;
        if (at + length > in.size()) return std::nullopt;
        text->assign(in.begin() + static_cast<long>(at),
                     in.begin() + static_cast<long>(at + length));
        at += length;
    }
    if (at + 2 == in.size()) {
        for (TransceiverKind& cage : s.cages) {
            if (in[at] > static_cast<uint8_t>(TransceiverKind::LongReachExternal))
                return std::nullopt;
            cage = static_cast<TransceiverKind>(in[at++]);
        }
    }
    if (at != in.size()) return std::nullopt;
    return s;
}

}  // namespace nettlebeam::driver
