#include "traffic_profile.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <stdexcept>

#include "frame.h"

namespace nettlebeam::traffic {
namespace {

[[noreturn]] void fail(std::string_view item, std::string_view why) {
    throw std::invalid_argument("traffic: \"" + std::string(item) + "\": " + std::string(why));
}

std::vector<std::string_view> split(std::string_view text, char separator) {
    std::vector<std::string_view> parts;
    size_t start = 0;
    while (true) {
        const size_t end = text.find(separator, start);
        parts.push_back(text.substr(start, end == std::string_view::npos ? end : end - start));
        if (end == std::string_view::npos) return parts;
        start = end + 1;
    }
}

double number(std::string_view item, std::string_view text) {
    double value = 0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (ec != std::errc() || end != text.data() + text.size() || !std::isfinite(value) || value < 0)
        fail(item, "not a non-negative number");
    return value;
}

double percent(std::string_view item, std::string_view text) {
    const double value = number(item, text);
    if (value > 100) fail(item, "a percentage above 100");
    return value;
}

uint32_t unsignedNumber(std::string_view item, std::string_view text) {
    uint32_t value = 0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (ec != std::errc() || end != text.data() + text.size() || text.empty())
        fail(item, "not a whole number");
    return value;
}

std::vector<SizeWeight> presetMix(std::string_view name) {
    if (name == "imix") return {{64, 7}, {576, 4}, {1518, 1}};
    if (name == "small") return {{64, 1}};
    if (name == "large") return {{1518, 1}};
    if (name == "jumbo") return {{9000, 1}};
    if (name == "mixed")
        return {{64, 30}, {128, 10}, {256, 10}, {512, 10}, {1024, 13}, {1518, 25}, {9000, 2}};
    return {};
}

std::vector<SizeWeight> parseMix(std::string_view item, std::string_view text) {
    if (auto preset = presetMix(text); !preset.empty()) return preset;
    std::vector<SizeWeight> mix;
    uint64_t total = 0;
    for (std::string_view entry : split(text, '/')) {
        const size_t colon = entry.find(':');
        if (colon == std::string_view::npos) fail(item, "a mix entry needs SIZE:WEIGHT");
        SizeWeight sw{unsignedNumber(item, entry.substr(0, colon)),
                      unsignedNumber(item, entry.substr(colon + 1))};
        if (sw.size < 64 || sw.size > kMaxFrameLength) fail(item, "sizes run from 64 to 9022");
        total += sw.weight;
        mix.push_back(sw);
    }
    if (total == 0) fail(item, "the weights add up to 0");
    return mix;
}

void parseRate(TrafficProfile& profile, std::string_view item, std::string_view text) {
    if (text == "line") {
        profile.lineRatePercent = 100;
    } else if (!text.empty() && text.back() == '%') {
        profile.lineRatePercent = percent(item, text.substr(0, text.size() - 1));
    } else {
        double factor = 1;
        if (!text.empty() && (text.back() == 'k' || text.back() == 'K')) factor = 1e3;
        if (!text.empty() && text.back() == 'M') factor = 1e6;
        if (factor != 1) text.remove_suffix(1);
        profile.framesPerSecond = number(item, text) * factor;
        profile.lineRatePercent = -1;
    }
}

}  // namespace

double TrafficProfile::averageSize() const {
    double sum = 0, weights = 0;
    for (const SizeWeight& sw : mix) {
        sum += static_cast<double>(sw.size) * sw.weight;
        weights += sw.weight;
    }
    return weights > 0 ? sum / weights : 64;
}

double TrafficProfile::rateAt(double lineMbitPerSecond) const {
    // Each frame also takes 8 bytes of preamble and 12 of inter-frame gap.
    const double lineFrames = lineMbitPerSecond * 1e6 / ((averageSize() + 20) * 8);
    // A wire carries no more than its line rate, whatever was asked.
    if (lineRatePercent < 0) return std::min(framesPerSecond, lineFrames);
    return lineFrames * std::min(lineRatePercent, 100.0) / 100;
}

TrafficProfile parseTrafficProfile(std::string_view text) {
    TrafficProfile profile;
    if (text.empty()) return profile;
    for (std::string_view item : split(text, ',')) {
        const size_t equals = item.find('=');
        if (equals == std::string_view::npos) fail(item, "expected KEY=VALUE");
        const std::string_view key = item.substr(0, equals), value = item.substr(equals + 1);
        if (key == "rate") {
            parseRate(profile, item, value);
        } else if (key == "mix") {
            profile.mix = parseMix(item, value);
        } else if (key == "crc") {
            profile.crcErrorPercent = percent(item, value);
        } else if (key == "jabber") {
            profile.jabberPercent = percent(item, value);
        } else if (key == "collision") {
            profile.collisionPercent = percent(item, value);
        } else if (key == "ports") {
            if (value != "A" && value != "B" && value != "AB") fail(item, "ports are A, B or AB");
            profile.portA = value != "B";
            profile.portB = value != "A";
        } else if (key == "seed") {
            profile.seed = unsignedNumber(item, value);
        } else {
            fail(item, "unknown key (rate, mix, crc, jabber, collision, ports, seed)");
        }
    }
    if (profile.crcErrorPercent + profile.jabberPercent + profile.collisionPercent > 100)
        fail(text, "error shares add up to more than 100 percent");
    return profile;
}

}  // namespace nettlebeam::traffic
