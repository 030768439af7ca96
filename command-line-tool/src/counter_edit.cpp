#include "counter_edit.h"

#include <cctype>
#include <cstring>

#include "address_forms.h"
#include "counter_fields.h"

namespace beamctl {
namespace {

namespace records = nettlebeam::records;

std::string lower(std::string text) {
    for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return text;
}

std::int32_t NettlebeamApiCounterV2::*conditionField(std::size_t i) {
    static constexpr std::int32_t NettlebeamApiCounterV2::*kFields[] = {
        &NettlebeamApiCounterV2::isIPv4,    &NettlebeamApiCounterV2::isIPv6,
        &NettlebeamApiCounterV2::isbcast,   &NettlebeamApiCounterV2::ismcast,
        &NettlebeamApiCounterV2::isucast,   &NettlebeamApiCounterV2::isicmp,
        &NettlebeamApiCounterV2::isudp,     &NettlebeamApiCounterV2::istcp,
        &NettlebeamApiCounterV2::iscrcValid};
    return kFields[i];
}

std::optional<std::string> applySize(NettlebeamApiCounterV2& counter, const std::string& text) {
    const std::optional<records::SizeCondition> condition = records::parseSizeCondition(text);
    if (!condition) {
        return "--size: '" + text + "' is not any, >N, <N or =N with N from 0 to 65535";
    }
    counter.sizeMode = condition->mode;
    // "any" keeps the size the record had.
    if (condition->mode != records::kSizeAny) counter.size = condition->size;
    return std::nullopt;
}

// As the window's editor reads it: the address replaces the whole pattern,
// and only a counter that requires exactly one IP version compares one.
std::optional<std::string> applyAddress(NettlebeamApiCounterV2& counter, const std::string& text) {
    const bool ipv4 = counter.isIPv4 == 1;
    const bool ipv6 = counter.isIPv6 == 1;
    const bool any = lower(text) == "any";
    if (ipv4 == ipv6 && !any) {
        return std::string("--address: the counter must require exactly one of IPv4 and IPv6 ") +
               "(--ipv4=yes or --ipv6=yes) to compare an address";
    }
    std::memset(counter.ip, 0, sizeof counter.ip);
    std::memset(counter.ipMask, 0, sizeof counter.ipMask);
    if (any) return std::nullopt;
    const std::optional<records::WildcardAddress> parsed =
        ipv6 ? records::parseIpv6Wildcards(text) : records::parseIpv4Wildcards(text);
    if (!parsed) {
        return "--address: '" + text + "' is not " + ipAddressForm(ipv6) + ", or any";
    }
    records::storeCounterAddress(counter, *parsed);
    return std::nullopt;
}

}  // namespace

std::optional<std::string> applyCounterChange(NettlebeamApiCounterV2& counter,
                                              const CounterChange& change) {
    NettlebeamApiCounterV2 changed = counter;
    if (change.mode) {
        const std::string mode = lower(*change.mode);
        if (mode != "packets" && mode != "bytes") {
            return "--mode: '" + *change.mode + "' is not packets or bytes";
        }
        changed.mode = mode == "bytes" ? 1 : 0;
    }
    if (change.ports) {
        const std::string ports = lower(*change.ports);
        if (ports != "a" && ports != "b" && ports != "ab" && ports != "none") {
            return "--ports: '" + *change.ports + "' is not A, B, AB or none";
        }
        changed.port1 = ports.find('a') != std::string::npos ? 1 : 0;
        changed.port2 = ports.find('b') != std::string::npos ? 1 : 0;
    }
    for (std::size_t i = 0; i < change.conditions.size(); ++i) {
        if (!change.conditions[i]) continue;
        const std::string value = lower(*change.conditions[i]);
        if (value != "yes" && value != "no" && value != "any") {
            return std::string("--") + kCounterConditionOptions[i] + ": '" + *change.conditions[i] +
                   "' is not yes, no or any";
        }
        changed.*conditionField(i) = value == "yes" ? 1 : value == "no" ? 0 : -1;
    }
    if (change.size) {
        if (auto refused = applySize(changed, *change.size)) return refused;
    }
    if (change.address) {
        if (auto refused = applyAddress(changed, *change.address)) return refused;
    }
    counter = changed;
    return std::nullopt;
}

}  // namespace beamctl
