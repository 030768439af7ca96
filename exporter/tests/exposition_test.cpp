#include "exposition.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <stdexcept>

#include "family_set.h"

namespace nettlebeam::exporter {
namespace {

TEST(Exposition, EscapesLabelValuesAndHelpAsTheTextFormatRequires) {
    MetricFamily family{"x_info", "Line one\nback\\slash \"quoted\"", MetricType::Gauge, {}};
    family.add({{"name", "a\\b\"c\nd"}}, 1);
    std::string text;
    writeFamilies({family}, text);
    // Quotes stay as they are in HELP; in label values all three are escaped.
    EXPECT_EQ(text,
              "# HELP x_info Line one\\nback\\\\slash \"quoted\"\n"
              "# TYPE x_info gauge\n"
              "x_info{name=\"a\\\\b\\\"c\\nd\"} 1\n");
}

TEST(Exposition, FormatsValuesExactlyAndSpellsSpecialValues) {
    EXPECT_EQ(formatValue(0), "0");
    EXPECT_EQ(formatValue(1234567890123.0), "1234567890123");
    EXPECT_EQ(formatValue(9007199254740991.0), "9007199254740991");
    EXPECT_EQ(formatValue(0.001), "0.001");
    EXPECT_EQ(formatValue(-12.5), "-12.5");
    EXPECT_EQ(formatValue(std::nan("")), "NaN");
    EXPECT_EQ(formatValue(std::numeric_limits<double>::infinity()), "+Inf");
    EXPECT_EQ(formatValue(-std::numeric_limits<double>::infinity()), "-Inf");
    // Beyond 2^53 the value is printed so that it parses back to the same double.
    double big = 18446744073709551615.0;
    EXPECT_EQ(std::stod(formatValue(big)), big);
}

TEST(Exposition, RefusesNamesThatWouldBreakTheScrape) {
    auto write = [](MetricFamily family) {
        std::string text;
        writeFamilies({family}, text);
        return text;
    };
    MetricFamily counter{"frames", "h", MetricType::Counter, {{{}, 1}}};
    EXPECT_THROW(write(counter), std::invalid_argument);  // a counter without _total
    MetricFamily gauge{"frames_total", "h", MetricType::Gauge, {{{}, 1}}};
    EXPECT_THROW(write(gauge), std::invalid_argument);  // _total on a gauge
    MetricFamily badName{"1frames", "h", MetricType::Gauge, {{{}, 1}}};
    EXPECT_THROW(write(badName), std::invalid_argument);
    MetricFamily badLabel{"frames", "h", MetricType::Gauge, {{{{"__port", "A"}}, 1}}};
    EXPECT_THROW(write(badLabel), std::invalid_argument);
    MetricFamily dashLabel{"frames", "h", MetricType::Gauge, {{{{"po-rt", "A"}}, 1}}};
    EXPECT_THROW(write(dashLabel), std::invalid_argument);
    std::string text;
    EXPECT_THROW(writeFamilies({gauge, gauge}, text), std::invalid_argument);
    EXPECT_TRUE(validMetricName("nettlebeam:rate_5m"));
}

TEST(Exposition, MergedDevicesShareOneFamilyBlockAndEmptyFamiliesAreLeftOut) {
    FamilySet first;
    first.family("a_total", "A.", MetricType::Counter).add({{"device", "1"}}, 5);
    first.family("b", "B.", MetricType::Gauge);
    FamilySet second;
    second.family("a_total", "A.", MetricType::Counter).add({{"device", "2"}}, 7);
    FamilySet all;
    all.merge(first);
    all.merge(second);
    std::string text;
    writeFamilies(all.families(), text);
    EXPECT_EQ(text,
              "# HELP a_total A.\n# TYPE a_total counter\n"
              "a_total{device=\"1\"} 5\na_total{device=\"2\"} 7\n");
}

}  // namespace
}  // namespace nettlebeam::exporter
