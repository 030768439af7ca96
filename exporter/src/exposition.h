// Metric families and the Prometheus text exposition format (version 0.0.4).
//
// Collectors fill families; the writer turns them into text. Names are checked
// here so that a typo in a collector fails its test rather than the scrape of
// whoever watches the fleet.
#pragma once

#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace nettlebeam::exporter {

enum class MetricType { Gauge, Counter };

using Labels = std::vector<std::pair<std::string, std::string>>;

struct Sample {
    Labels labels;
    double value = 0;
};

struct MetricFamily {
    std::string name;
    std::string help;
    MetricType type = MetricType::Gauge;
    std::vector<Sample> samples;

    void add(Labels labels, double value) { samples.push_back({std::move(labels), value}); }
};

// True for [a-zA-Z_:][a-zA-Z0-9_:]* (metric names) ...
bool validMetricName(std::string_view name);
// ... and [a-zA-Z_][a-zA-Z0-9_]* not starting with "__" (label names).
bool validLabelName(std::string_view name);

// Label values: backslash, double quote and line feed escaped.
std::string escapeLabelValue(std::string_view value);
// HELP text: backslash and line feed escaped.
std::string escapeHelp(std::string_view text);
// A sample value: integers without exponent, NaN, +Inf and -Inf spelled as
// the format wants them.
std::string formatValue(double value);

// Appends the families in order; families without samples are left out
// (a HELP line without samples would only confuse a reader). Throws
// std::invalid_argument on an invalid metric or label name, on a counter whose
// name lacks `_total`, and on a family name written twice.
void writeFamilies(const std::vector<MetricFamily>& families, std::string& out);

}  // namespace nettlebeam::exporter
