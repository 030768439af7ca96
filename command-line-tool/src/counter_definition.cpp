#include "counter_definition.h"

#include <cstdint>
#include <iterator>
#include <vector>

#include "counter_fields.h"
#include "json.h"
#include "text.h"

namespace beamctl {
namespace {

namespace records = nettlebeam::records;

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

// As in the window, the address is shown when the counter tests exactly one
// IP version; unlike the window's row, a pattern that compares no byte is
// left out, as it tests nothing.
std::string addressPattern(const NettlebeamApiCounterV2& counter) {
    if (!records::counterComparesAddress(counter)) return "";
    return records::counterAddressText(counter);
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
    if (const auto comparison = records::sizeComparison(counter.sizeMode))
        tests.push_back(format("size %c %u", *comparison, size));
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
    if (const auto comparison = records::sizeComparison(counter.sizeMode)) {
        json.add("sizeCompare", std::string(1, *comparison))
            .add("size", static_cast<std::uint64_t>(static_cast<unsigned>(counter.size) & 0xFFFFu));
    } else {
        json.addNull("sizeCompare").addNull("size");
    }
    const std::string address = addressPattern(counter);
    address.empty() ? json.addNull("address") : json.add("address", address);
    return json.text();
}

}  // namespace beamctl
