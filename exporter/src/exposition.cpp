#include "exposition.h"

#include <charconv>
#include <cmath>
#include <cstdio>
#include <set>
#include <stdexcept>

namespace nettlebeam::exporter {
namespace {

bool nameStart(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '_';
}
bool nameChar(char c) {
    return nameStart(c) || (c >= '0' && c <= '9');
}

bool endsWith(std::string_view text, std::string_view suffix) {
    return text.size() >= suffix.size() && text.substr(text.size() - suffix.size()) == suffix;
}

}  // namespace

bool validMetricName(std::string_view name) {
    if (name.empty() || !(nameStart(name[0]) || name[0] == ':')) return false;
    for (char c : name)
        if (!nameChar(c) && c != ':') return false;
    return true;
}

bool validLabelName(std::string_view name) {
    if (name.empty() || !nameStart(name[0]) || name.starts_with("__")) return false;
    for (char c : name)
        if (!nameChar(c)) return false;
    return true;
}

std::string escapeLabelValue(std::string_view value) {
    std::string out;
    out.reserve(value.size());
    for (char c : value) {
        if (c == '\\') {
            out += "\\\\";
        } else if (c == '"') {
            out += "\\\"";
        } else if (c == '\n') {
            out += "\\n";
        } else {
            out += c;
        }
    }
    return out;
}

std::string escapeHelp(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (char c : text) {
        if (c == '\\') {
            out += "\\\\";
        } else if (c == '\n') {
            out += "\\n";
        } else {
            out += c;
        }
    }
    return out;
}

std::string formatValue(double value) {
    if (std::isnan(value)) return "NaN";
    if (std::isinf(value)) return value > 0 ? "+Inf" : "-Inf";
    char buffer[40];
    // Integers up to 2^53 are exact in a double: print them as integers so
    // that counters read the same as `beamctl statistics`.
    if (value == std::floor(value) && std::fabs(value) < 9007199254740992.0) {
        std::snprintf(buffer, sizeof buffer, "%.0f", value);
        return buffer;
    }
    // The shortest text that reads back as the same double.
    auto result = std::to_chars(buffer, buffer + sizeof buffer, value);
    return std::string(buffer, result.ptr);
}

void writeFamilies(const std::vector<MetricFamily>& families, std::string& out) {
    std::set<std::string_view> written;
    for (const MetricFamily& family : families) {
        if (!validMetricName(family.name))
            throw std::invalid_argument("invalid metric name: " + family.name);
        bool counter = family.type == MetricType::Counter;
        if (counter != endsWith(family.name, "_total"))
            throw std::invalid_argument("counter names end in _total, others do not: " +
                                        family.name);
        if (!written.insert(family.name).second)
            throw std::invalid_argument("metric family written twice: " + family.name);
        if (family.samples.empty()) continue;
        out += "# HELP " + family.name + ' ' + escapeHelp(family.help) + '\n';
        out += "# TYPE " + family.name + (counter ? " counter\n" : " gauge\n");
        for (const Sample& sample : family.samples) {
            out += family.name;
            if (!sample.labels.empty()) {
                out += '{';
                bool first = true;
                for (const auto& [name, value] : sample.labels) {
                    if (!validLabelName(name))
                        throw std::invalid_argument("invalid label name: " + name);
                    if (!first) out += ',';
                    first = false;
                    out += name + "=\"" + escapeLabelValue(value) + '"';
                }
                out += '}';
            }
            out += ' ' + formatValue(sample.value) + '\n';
        }
    }
}

}  // namespace nettlebeam::exporter
