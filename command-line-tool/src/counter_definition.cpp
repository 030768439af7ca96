#include "counter_definition.h"

#include <cstdint>
#include <iterator>
#include <vector>

#include "json.h"
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

// The JSON names of the conditions, in the order of kConditions.
const char* const kConditionKeys[] = {"ipv4", "ipv6", "broadcast", "multicast", "unicast",
                                      "icmp", "udp",  "tcp",       "crcValid",  "dropped"};

// The address pattern is stored last byte first. As in the window, it is
// shown when the counter tests exactly one IP version, and a byte is compared
// only when its mask byte is 0xFF; the others are wildcards.
std::string addressPattern(const NettlebeamApiCounterV2& counter) {
    const bool ipv4 = counter.isIPv4 == 1;
    const bool ipv6 = counter.isIPv6 == 1;
    if (ipv4 == ipv6) return "";
    const int count = ipv4 ? 4 : 16;
    bool anyCompared = false;
    for (int i = 0; i < count; ++i) anyCompared = anyCompared || counter.ipMask[i] == 0xFF;
    if (!anyCompared) return "";
    std::string text;
    for (int written = 0; written < count; ++written) {
        const int i = count - 1 - written;
        const bool compared = counter.ipMask[i] == 0xFF;
        if (ipv4) {
            if (written > 0) text += '.';
            text += compared ? format("%u", counter.ip[i]) : std::string("*");
        } else {
            // A wildcard stands for a whole byte: two digits wide.
            text += compared ? format("%02x", counter.ip[i]) : std::string("**");
            if (written % 2 == 1 && written != count - 1) text += ':';
        }
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

std::string counterJson(const NettlebeamApiCounterV2& counter, int number) {
    JsonObject json;
    // The number read, not the record's index field, which a read need not fill.
    json.add("counter", number)
        .add("definition", counterDefinition(counter))
        .add("mode", counter.mode == 1 ? "bytes" : "packets")
        .add("portA", counter.port1 == 1)
        .add("portB", counter.port2 == 1);
    for (std::size_t i = 0; i < std::size(kConditions); ++i) {
        const std::int32_t value = counter.*kConditions[i].field;
        if (value == 0 || value == 1) {
            json.add(kConditionKeys[i], value == 1);
        } else {
            json.addNull(kConditionKeys[i]);
        }
    }
    const char* compare = counter.sizeMode == 0   ? ">"
                          : counter.sizeMode == 1 ? "<"
                          : counter.sizeMode == 2 ? "="
                                                  : nullptr;
    if (compare != nullptr) {
        json.add("sizeCompare", compare)
            .add("size", static_cast<std::uint64_t>(static_cast<unsigned>(counter.size) & 0xFFFFu));
    } else {
        json.addNull("sizeCompare").addNull("size");
    }
    const std::string address = addressPattern(counter);
    address.empty() ? json.addNull("address") : json.add("address", address);
    return json.text();
}

}  // namespace beamctl
