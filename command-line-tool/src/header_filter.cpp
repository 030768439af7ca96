#include "header_filter.h"

#include <cctype>
#include <cstdint>

#include "address_forms.h"
#include "json.h"
#include "packet_filter_fields.h"
#include "text.h"

namespace beamctl {
namespace {

namespace records = nettlebeam::records;
using records::FilterField;

std::string lower(std::string text) {
    for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return text;
}

bool has(std::uint32_t flags, std::uint32_t bit) {
    return (flags & bit) != 0;
}

void setFlag(NettlebeamApiPacketFilter& filter, std::uint32_t flag, bool on) {
    filter.fieldFlags = on ? filter.fieldFlags | flag : filter.fieldFlags & ~flag;
}

// One address or port field: its option, flag and the layer's either bit.
struct Field {
    const char* option;
    const char* label;
    const char* jsonKey;
    FilterField field;
    std::uint32_t flag;
    std::uint16_t eitherBit;
    bool source;
};

const Field kMacFields[] = {{"--src-mac", "Source MAC", "srcMac", FilterField::SrcMac,
                             NETTLEBEAM_FILTER_SRC_MAC, NETTLEBEAM_FILTER_EITHER_MAC, true},
                            {"--dst-mac", "Destination MAC", "dstMac", FilterField::DstMac,
                             NETTLEBEAM_FILTER_DST_MAC, NETTLEBEAM_FILTER_EITHER_MAC, false}};
const Field kIpFields[] = {{"--src-ip", "Source IP", "srcIp", FilterField::SrcIp,
                            NETTLEBEAM_FILTER_SRC_IP, NETTLEBEAM_FILTER_EITHER_IP, true},
                           {"--dst-ip", "Destination IP", "dstIp", FilterField::DstIp,
                            NETTLEBEAM_FILTER_DST_IP, NETTLEBEAM_FILTER_EITHER_IP, false}};
const Field kPortFields[] = {{"--src-port", "Source Port", "srcPort", FilterField::SrcPort,
                              NETTLEBEAM_FILTER_SRC_PORT, NETTLEBEAM_FILTER_EITHER_PORT, true},
                             {"--dst-port", "Destination Port", "dstPort", FilterField::DstPort,
                              NETTLEBEAM_FILTER_DST_PORT, NETTLEBEAM_FILTER_EITHER_PORT, false}};

struct Layer {
    const char* modeOption;
    const char* name;  // the source row's label when either direction is matched
    const char* jsonKey;
    std::uint16_t eitherBit;
    const Field* fields;
};

const Layer kLayers[] = {
    {"--mac-mode", "MAC", "macMode", NETTLEBEAM_FILTER_EITHER_MAC, kMacFields},
    {"--ip-mode", "IP", "ipMode", NETTLEBEAM_FILTER_EITHER_IP, kIpFields},
    {"--port-mode", "Port", "portMode", NETTLEBEAM_FILTER_EITHER_PORT, kPortFields}};

const Layer& layerOf(const Field& field) {
    for (const Layer& layer : kLayers) {
        if (layer.eitherBit == field.eitherBit) return layer;
    }
    return kLayers[0];
}

bool inUse(const NettlebeamApiPacketFilter& filter, const Field& field) {
    return records::filterUsesField(filter, field.field);
}

std::string refusedValue(const Field& field, const std::string& value, const char* what) {
    return format("%s: '%s' is not %s, or off", field.option, value.c_str(), what);
}

// Stores one field's value into `filter` (whose IP version is already the
// new one) and marks it in use, or marks it unused for "off".
std::optional<std::string> applyField(NettlebeamApiPacketFilter& filter, const Field& field,
                                      const std::string& value) {
    if (lower(value) == "off") {
        setFlag(filter, field.flag, false);
        return std::nullopt;
    }
    if (!field.source && has(filter.eitherDirection, field.eitherBit)) {
        const Layer& layer = layerOf(field);
        return format("%s: with %s=either only %s is used", field.option, layer.modeOption,
                      layer.fields[0].option);
    }
    records::clearField(filter, field.field);
    bool stored = false;
    const char* what = "";
    switch (field.field) {
        case FilterField::SrcMac:
        case FilterField::DstMac:
            stored = records::storeMacText(filter, field.field, value);
            what = macAddressForm();
            break;
        case FilterField::SrcIp:
        case FilterField::DstIp:
            stored = records::storeAddressText(filter, field.field, value);
            what = ipAddressForm(records::filterIsIpv6(filter));
            break;
        case FilterField::SrcPort:
        case FilterField::DstPort:
            if (const auto port = records::parsePort(value)) {
                records::storePort(filter, field.field, *port);
                stored = true;
            }
            what = "a port from 0 to 65535";
            break;
    }
    if (!stored) return refusedValue(field, value, what);
    setFlag(filter, field.flag, true);
    return std::nullopt;
}

const std::optional<std::string>& given(const HeaderFilterChange& change, const Field& field) {
    switch (field.field) {
        case FilterField::SrcMac:
            return change.srcMac;
        case FilterField::DstMac:
            return change.dstMac;
        case FilterField::SrcIp:
            return change.srcIp;
        case FilterField::DstIp:
            return change.dstIp;
        case FilterField::SrcPort:
            return change.srcPort;
        case FilterField::DstPort:
            break;
    }
    return change.dstPort;
}

const std::optional<std::string>& givenMode(const HeaderFilterChange& change, const Layer& layer) {
    if (layer.eitherBit == NETTLEBEAM_FILTER_EITHER_MAC) return change.macMode;
    if (layer.eitherBit == NETTLEBEAM_FILTER_EITHER_IP) return change.ipMode;
    return change.portMode;
}

std::string fieldText(const NettlebeamApiPacketFilter& filter, const Field& field) {
    switch (field.field) {
        case FilterField::SrcMac:
        case FilterField::DstMac:
            return records::filterMacText(filter, field.field);
        case FilterField::SrcIp:
        case FilterField::DstIp:
            return records::filterAddressText(filter, field.field);
        case FilterField::SrcPort:
            return std::to_string(filter.srcPort);
        case FilterField::DstPort:
            break;
    }
    return std::to_string(filter.dstPort);
}

// The record as the window's panel would fill it back unedited: every field
// whose flag is set is shown as text and read again (a wildcard byte comes
// back as zero), and nothing else is kept.
NettlebeamApiPacketFilter asShown(const NettlebeamApiPacketFilter& filter) {
    NettlebeamApiPacketFilter shown{};
    shown.enabled = filter.enabled;
    shown.fieldFlags = filter.fieldFlags;
    shown.eitherDirection = filter.eitherDirection;
    for (const Layer& layer : kLayers) {
        for (int i = 0; i < 2; ++i) {
            const Field& field = layer.fields[i];
            if (!has(filter.fieldFlags, field.flag)) continue;
            const std::string text = fieldText(filter, field);
            if (field.field == FilterField::SrcMac || field.field == FilterField::DstMac) {
                records::storeMacText(shown, field.field, text);
            } else if (field.field == FilterField::SrcIp || field.field == FilterField::DstIp) {
                records::storeAddressText(shown, field.field, text);
            } else {
                records::storePort(shown, field.field, *records::parsePort(text));
            }
        }
    }
    return shown;
}

}  // namespace

std::optional<std::string> applyHeaderFilterChange(NettlebeamApiPacketFilter& filter,
                                                   const HeaderFilterChange& change) {
    NettlebeamApiPacketFilter changed = asShown(filter);
    if (change.enabled) {
        const std::string value = lower(*change.enabled);
        if (value != "yes" && value != "no") {
            return "--enabled: '" + *change.enabled + "' is not yes or no";
        }
        changed.enabled = value == "yes" ? 1 : 0;
    }
    for (const Layer& layer : kLayers) {
        const std::optional<std::string>& mode = givenMode(change, layer);
        if (!mode) continue;
        const std::string value = lower(*mode);
        if (value != "pair" && value != "either") {
            return std::string(layer.modeOption) + ": '" + *mode + "' is not pair or either";
        }
        changed.eitherDirection = static_cast<std::uint16_t>(
            value == "either" ? changed.eitherDirection | layer.eitherBit
                              : changed.eitherDirection & ~layer.eitherBit);
    }
    if (change.ipVersion) {
        const std::string& value = *change.ipVersion;
        if (value != "4" && value != "6") {
            return "--ip-version: '" + value + "' is not 4 or 6";
        }
        const bool ipv6 = value == "6";
        if (ipv6 != records::filterIsIpv6(changed)) {
            // The record's address bytes mean something else in the other version.
            setFlag(changed, NETTLEBEAM_FILTER_IPV6, ipv6);
            for (const Field& field : kIpFields) {
                if (inUse(changed, field) && !given(change, field)) {
                    return format("--ip-version: %s is in use; give it for IPv%s or turn it off",
                                  field.option, value.c_str());
                }
            }
        }
    }
    for (const Layer& layer : kLayers) {
        for (int i = 0; i < 2; ++i) {
            const Field& field = layer.fields[i];
            if (const auto& value = given(change, field)) {
                if (auto refused = applyField(changed, field, *value)) return refused;
            }
        }
    }
    filter = records::usedFieldsOnly(changed);
    return std::nullopt;
}

std::string headerFilterReport(const NettlebeamApiPacketFilter& filter) {
    std::string text =
        format("%-16s : %s\n", "Packet Filter", filter.enabled == 1 ? "enabled" : "disabled");
    for (const Layer& layer : kLayers) {
        const bool either = has(filter.eitherDirection, layer.eitherBit);
        if (layer.eitherBit == NETTLEBEAM_FILTER_EITHER_IP) {
            text += format("%-16s : %s\n", "IP version",
                           records::filterIsIpv6(filter) ? "IPv6" : "IPv4");
        }
        text += format("%-16s : %s\n", (std::string(layer.name) + " mode").c_str(),
                       either ? "Specify source or destination" : "Specify source and destination");
        for (int i = 0; i < (either ? 1 : 2); ++i) {
            const Field& field = layer.fields[i];
            const std::string label = either ? layer.name : field.label;
            text += format("%-16s : %s\n", label.c_str(),
                           inUse(filter, field) ? fieldText(filter, field).c_str() : "off");
        }
    }
    return text;
}

std::string headerFilterJson(const NettlebeamApiPacketFilter& filter) {
    JsonObject json;
    json.add("enabled", filter.enabled == 1)
        .add("ipVersion", records::filterIsIpv6(filter) ? 6 : 4);
    for (const Layer& layer : kLayers) {
        json.add(layer.jsonKey, has(filter.eitherDirection, layer.eitherBit) ? "either" : "pair");
    }
    for (const Layer& layer : kLayers) {
        for (int i = 0; i < 2; ++i) {
            const Field& field = layer.fields[i];
            if (!inUse(filter, field)) {
                json.addNull(field.jsonKey);
            } else if (field.field == FilterField::SrcPort) {
                json.add(field.jsonKey, static_cast<int>(filter.srcPort));
            } else if (field.field == FilterField::DstPort) {
                json.add(field.jsonKey, static_cast<int>(filter.dstPort));
            } else {
                json.add(field.jsonKey, fieldText(filter, field));
            }
        }
    }
    return json.text();
}

}  // namespace beamctl
