#include "counter_definition.h"

#include <cstdint>
#include <vector>

#include "text.h"

namespace beamctl {
namespace {

struct Condition {
    std::int32_t NettlebeamApiCounterV2::*field;
    const char* name;
};

const Condition kConditions[] = {
    {&NettlebeamApiCounterV2::isIPv4, "IPv4"},
    {&NettlebeamApiCounterV2::isIPv6, "IPv6"},
    {&NettlebeamApiCounterV2::isbcast, "broadcast"},
    {&NettlebeamApiCounterV2::ismcast, "multicast"},
    {&NettlebeamApiCounterV2::isucast, "unicast"},
    {&NettlebeamApiCounterV2::isicmp, "ICMP"},
    {&NettlebeamApiCounterV2::isudp, "UDP"},
    {&NettlebeamApiCounterV2::istcp, "TCP"},
    {&NettlebeamApiCounterV2::iscrcValid, "CRC valid"},
    {&NettlebeamApiCounterV2::isDropped, "dropped"},
};

// The address pattern is stored last byte first; a byte whose mask flag is
// clear is a wildcard.
std::string addressPattern(const NettlebeamApiCounterV2& counter) {
    bool anyCompared = false;
    bool beyondIPv4 = false;
    for (int i = 0; i < 16; ++i) {
        if (counter.ipMask[i] == 0) continue;
        anyCompared = true;
        if (i >= 4) beyondIPv4 = true;
    }
    if (!anyCompared) return "";
    // A wildcard stands for a whole byte: two digits wide in IPv6 text.
    const auto byteText = [&](int i, const char* pattern, const char* wildcard) {
        return counter.ipMask[i] != 0 ? format(pattern, counter.ip[i]) : std::string(wildcard);
    };
    std::string text;
    if (!beyondIPv4) {
        for (int i = 3; i >= 0; --i) {
            text += byteText(i, "%u", "*");
            if (i > 0) text += '.';
        }
        return text;
    }
    for (int i = 15; i >= 0; --i) {
        text += byteText(i, "%02x", "**");
        if (i > 0 && i % 2 == 0) text += ':';
    }
    return text;
}

}  // namespace

std::string counterDefinition(const NettlebeamApiCounterV2& counter) {
    std::string text = counter.mode == 1 ? "bytes on " : "packets on ";
    const bool portA = counter.port1 == 1;
    const bool portB = counter.port2 == 1;
    text += portA && portB ? "A+B" : portA ? "A" : portB ? "B" : "no port";
    std::vector<std::string> tests;
    for (const Condition& condition : kConditions) {
        const std::int32_t value = counter.*condition.field;
        if (value == 1) tests.push_back(condition.name);
        if (value == 0) tests.push_back(std::string("not ") + condition.name);
    }
    const unsigned size = static_cast<unsigned>(counter.size) & 0xFFFFu;
    if (counter.sizeMode == 0) tests.push_back(format("size > %u", size));
    if (counter.sizeMode == 1) tests.push_back(format("size < %u", size));
    if (counter.sizeMode == 2) tests.push_back(format("size = %u", size));
    const std::string address = addressPattern(counter);
    if (!address.empty()) tests.push_back("IP " + address);
    text += ": ";
    if (tests.empty()) return text + "all";
    for (std::size_t i = 0; i < tests.size(); ++i) {
        if (i > 0) text += ", ";
        text += tests[i];
    }
    return text;
}

}  // namespace beamctl
