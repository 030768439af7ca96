// The statistics arithmetic fed with records built here: differences that
// never go negative, bandwidth usage, the tables' totals, rates and shares,
// the averages, alarms, link events and chart points, and the order in which
// one record runs through them.
#include <gtest/gtest.h>

#include <cmath>

#include "alarmcheck.h"
#include "chartpoints.h"
#include "linktracker.h"
#include "portaverages.h"
#include "statisticsmath.h"
#include "statisticsmodel.h"
#include "tablecounters.h"

void PrintTo(const QString& text, std::ostream* out) {
    *out << '"' << text.toStdString() << '"';
}

namespace {

// One port's counters since the device started.
struct Traffic {
    uint64_t small = 0, medium = 0, large = 0;  // valid packets by size
    uint64_t collisions = 0, crc = 0, jabbers = 0;
    uint64_t bytes = 0;
    uint64_t capacity = 0;  // bytes the line could have carried
    uint64_t dropped = 0;
};

NettlebeamApiPortStatistics counters(const Traffic& t) {
    NettlebeamApiPortStatistics p{};
    p.lessThan64 = t.small;
    p.from64To1518 = t.medium;
    p.moreThan1518 = t.large;
    p.collisions = t.collisions;
    p.crcErrors = t.crc;
    p.jabbers = t.jabbers;
    p.totalBytes = t.bytes;
    p.speedWeightedCount = t.capacity;
    p.totalValidPackets = t.small + t.medium + t.large;
    p.totalInvalidPackets = t.collisions + t.crc + t.jabbers;
    p.hwDropped = t.dropped;
    return p;
}

// A record at `ms`; the link has been up since the device started unless
// `upTime` says otherwise.
NettlebeamApiStatistics record(uint64_t ms, const Traffic& a = {}, const Traffic& b = {},
                               std::optional<uint64_t> upTime = std::nullopt) {
    NettlebeamApiStatistics r{};
    r.version = 1;
    r.timestamp = ms;
    r.data.v1.linkUpTime = upTime.value_or(ms);
    r.data.v1.portA = counters(a);
    r.data.v1.portB = counters(b);
    return r;
}

TableRowTexts row(const char* total, const char* rate, const char* share) {
    return {QString::fromLatin1(total), QString::fromLatin1(rate), QString::fromLatin1(share)};
}

}  // namespace

TEST(StatisticsMath, ADifferenceNeverGoesNegative) {
    NettlebeamApiStatistics before =
        record(5000, {.small = 10, .crc = 7, .bytes = 900}, {.large = 3});
    before.swDropped = 40;
    before.data.v1.linkDownTime = 800;
    NettlebeamApiStatistics after =
        record(6000, {.small = 4, .crc = 9, .bytes = 1000}, {.large = 1});
    after.swDropped = 12;  // counters cleared in between
    after.data.v1.linkDownTime = 900;
    const NettlebeamApiStatistics d = StatisticsMath::delta(after, before);
    EXPECT_EQ(d.timestamp, 1000u);
    EXPECT_EQ(d.swDropped, 0u);
    EXPECT_EQ(d.data.v1.linkDownTime, 100u);
    EXPECT_EQ(d.data.v1.portA.lessThan64, 0u);
    EXPECT_EQ(d.data.v1.portA.crcErrors, 2u);
    EXPECT_EQ(d.data.v1.portA.totalBytes, 100u);
    EXPECT_EQ(d.data.v1.portB.moreThan1518, 0u);
    EXPECT_EQ(StatisticsMath::delta(before, after).timestamp, 0u);
}

TEST(StatisticsMath, BandwidthUsageCountsTheGapAndStopsAtTheLine) {
    auto usage = [](uint64_t bytes, uint64_t packets, uint64_t capacity) {
        NettlebeamApiPortStatistics d{};
        d.totalBytes = bytes;
        d.totalValidPackets = packets;
        d.speedWeightedCount = capacity;
        return StatisticsMath::bandwidthUsage(d);
    };
    // 10 frames of 80 bytes take 1000 bytes of line with preamble and gap.
    EXPECT_DOUBLE_EQ(usage(800, 10, 4000), 25.0);
    EXPECT_DOUBLE_EQ(usage(5000, 10, 4000), 100.0);
    EXPECT_DOUBLE_EQ(usage(5000, 10, 0), 0.0);
    // Counters far beyond what 100 x bytes can hold in 64 bits.
    EXPECT_NEAR(usage(1ull << 62, 0, 1ull << 63), 50.0, 1e-9);
}

TEST(StatisticsMath, RatesAreOverFractionalSecondsAndAbsentOverNoTime) {
    EXPECT_DOUBLE_EQ(StatisticsMath::seconds(1999), 1.999);
    EXPECT_DOUBLE_EQ(*StatisticsMath::perSecond(300, StatisticsMath::seconds(500)), 600.0);
    EXPECT_FALSE(StatisticsMath::perSecond(300, StatisticsMath::seconds(0)).has_value());
    EXPECT_FALSE(StatisticsMath::perSecond(0, 0.0).has_value());
}

TEST(TableCounters, FirstRecordIsTheBaseThenTotalsRatesAndShares) {
    TableCounters table(1);
    EXPECT_FALSE(table
                     .update(record(10000, {.small = 999},
                                    {.small = 50, .medium = 10, .crc = 2, .bytes = 7000}))
                     .has_value());
    // 1.5 s later: port B got 30 small, 30 medium frames, 4 CRC errors and 2 jabbers.
    const std::optional<TableTexts> texts = table.update(record(
        11500, {.small = 5}, {.small = 80, .medium = 40, .crc = 6, .jabbers = 2, .bytes = 10000}));
    ASSERT_TRUE(texts.has_value());
    // 66 packets: 60 valid, 6 invalid.
    EXPECT_EQ(texts->valid[0], row("60", "40", "90.91"));
    EXPECT_EQ(texts->valid[1], row("30", "20", "45.45"));
    EXPECT_EQ(texts->valid[2], row("30", "20", "45.45"));
    EXPECT_EQ(texts->valid[3], row("0", "0", "0.00"));
    EXPECT_EQ(texts->valid[4], row("3000", "2000", "-"));  // bytes have no share
    EXPECT_EQ(texts->invalid[0], row("6", "4", "9.09"));
    EXPECT_EQ(texts->invalid[1], row("0", "0", "0.00"));
    EXPECT_EQ(texts->invalid[2], row("4", "3", "6.06"));
    EXPECT_EQ(texts->invalid[3], row("2", "1", "3.03"));

    // Totals keep growing from the base; the rate is over the last step only.
    const std::optional<TableTexts> next = table.update(
        record(12000, {}, {.small = 90, .medium = 40, .crc = 6, .jabbers = 2, .bytes = 10000}));
    EXPECT_EQ(next->valid[1], row("40", "20", "52.63"));
}

TEST(TableCounters, NoTrafficNoTimeAndCountersGoingBack) {
    TableCounters table(0);
    table.update(record(1000, {.small = 100, .bytes = 6400}));
    const std::optional<TableTexts> quiet =
        table.update(record(2000, {.small = 100, .bytes = 6400}));
    EXPECT_EQ(quiet->valid[0], row("0", "0", "-"));  // no packet: no share
    // A second record with the same timestamp: a rate over no time has no value.
    const std::optional<TableTexts> same =
        table.update(record(2000, {.small = 104, .bytes = 6656}));
    EXPECT_EQ(same->valid[1], row("4", "-", "100.00"));
    // The device restarted: its counters went back; nothing goes negative.
    const std::optional<TableTexts> restarted = table.update(record(3000, {.small = 3}));
    EXPECT_EQ(restarted->valid[1], row("0", "0", "-"));
    EXPECT_EQ(restarted->valid[4], row("0", "0", "-"));

    table.reset();
    EXPECT_FALSE(table.update(record(4000, {.small = 9})).has_value());
    EXPECT_EQ(table.update(record(5000, {.small = 19}))->valid[1], row("10", "10", "100.00"));
    EXPECT_EQ(TableCounters::resetTexts().invalid[3], row("0", "0", "-"));
}

TEST(PortAverages, BandwidthIsWeightedByTimeSinceTheFirstSample) {
    PortAverages averages;
    const NettlebeamApiPortStatistics nothing{};
    // The first sample only starts the average.
    EXPECT_FALSE(averages.update(nothing, 1000, 0, 80.0).bandwidth.has_value());
    EXPECT_DOUBLE_EQ(*averages.update(nothing, 2000, 1000, 40.0).bandwidth, 40.0);
    // 3 s at 10 % after 1 s at 40 %.
    EXPECT_DOUBLE_EQ(*averages.update(nothing, 5000, 2000, 10.0).bandwidth, 17.5);
    // 1 s at 100 % after 4 s at 17.5 %.
    EXPECT_DOUBLE_EQ(*averages.update(nothing, 6000, 5000, 100.0).bandwidth, 34.0);
    // After a reset no average until time passed since the new first sample.
    averages.reset();
    EXPECT_FALSE(averages.update(nothing, 7000, 6000, 50.0).bandwidth.has_value());
    EXPECT_FALSE(averages.update(nothing, 7000, 7000, 50.0).bandwidth.has_value());
    EXPECT_DOUBLE_EQ(*averages.update(nothing, 7500, 7000, 60.0).bandwidth, 60.0);
}

TEST(PortAverages, CrcErrorsAreASharePlusOneOfThePacketsSinceTheFirstSample) {
    PortAverages averages;
    NettlebeamApiPortStatistics c{};
    c.crcErrors = 50;
    c.totalValidPackets = 1000;
    EXPECT_DOUBLE_EQ(averages.update(c, 1000, 0, 0).crcErrors, 0.0);
    c.crcErrors = 59;
    c.totalValidPackets = 1090;
    c.totalInvalidPackets = 9;
    EXPECT_DOUBLE_EQ(averages.update(c, 2000, 1000, 0).crcErrors, 9.0);  // 9 of 99 + 1
    // Cleared counters count from nothing instead of wrapping around.
    c = {};
    EXPECT_DOUBLE_EQ(averages.update(c, 3000, 2000, 0).crcErrors, 0.0);
    averages.reset();
    c.crcErrors = 1;
    averages.update(c, 4000, 3000, 0);
    c.crcErrors = 3;
    c.totalInvalidPackets = 3;
    EXPECT_DOUBLE_EQ(averages.update(c, 5000, 4000, 0).crcErrors, 50.0);  // 2 of 3 + 1
}

TEST(AlarmCheck, EachRecordAtOrAboveAThresholdGivesOneAlarm) {
    AlarmCheck check;
    AlarmThresholds thresholds;
    thresholds.bandwidthOn = {true, false};
    thresholds.bandwidth = {50.0, 0.0};  // port B's would fire, but it is off
    thresholds.crcOn = {false, true};
    thresholds.crc = {0.0, 10.0};
    // The first record is only the reference, whatever it holds.
    EXPECT_TRUE(check.check(record(1000, {}, {.crc = 500}), {90.0, 90.0}, thresholds).isEmpty());

    // Port B: 11 CRC errors among 99 packets: 11 of 99 + 1 is 11 %.
    QList<Alarm> alarms =
        check.check(record(2000, {}, {.small = 88, .crc = 511}), {50.0, 90.0}, thresholds);
    ASSERT_EQ(alarms.size(), 2);
    EXPECT_EQ(alarms[0].text(QStringLiteral("T")),
              QStringLiteral("T - Port A Bandwidth usage > 50.00% (50.00%)"));
    EXPECT_EQ(alarms[1].text(QStringLiteral("T")),
              QStringLiteral("T - Port B CRC error percentage > 10.00% (11.00%)"));
    // Still above: written again; the CRC share is over the last record only.
    alarms = check.check(record(3000, {}, {.small = 176, .crc = 512}), {77.125, 0.0}, thresholds);
    ASSERT_EQ(alarms.size(), 1);
    EXPECT_EQ(alarms[0].port, 0);
    EXPECT_DOUBLE_EQ(alarms[0].value, 77.125);
    EXPECT_TRUE(check.check(record(4000), {49.99, 0.0}, thresholds).isEmpty());
}

TEST(LinkTracker, LinesAlternateOncePerChangeOfTheLastSeenState) {
    bool lastSeenUp = false;
    LinkTracker link(lastSeenUp);
    using Event = LinkTracker::Event;
    LinkTracker::Observation seen = link.observe(5000, 0);
    EXPECT_EQ(seen.event, Event::Up);
    EXPECT_FALSE(seen.upTimeWentBack);
    EXPECT_EQ(link.observe(6000, 5000).event, Event::None);
    seen = link.observe(100, 6000);
    EXPECT_EQ(seen.event, Event::Down);
    EXPECT_TRUE(seen.upTimeWentBack);
    // Back again before any record saw it up: the statistics restart, no second line.
    seen = link.observe(50, 100);
    EXPECT_EQ(seen.event, Event::None);
    EXPECT_TRUE(seen.upTimeWentBack);
    EXPECT_EQ(link.observe(50, 50).event, Event::Up);
    // A second tracker on the same state (another device) sees the link up already.
    LinkTracker other(lastSeenUp);
    EXPECT_EQ(other.observe(0, 0).event, Event::None);
    EXPECT_EQ(LinkTracker::text(Event::Down, QStringLiteral("T")), QStringLiteral("T - Link Down"));
    EXPECT_EQ(LinkTracker::text(Event::Up, QStringLiteral("T")), QStringLiteral("T - Link Up"));
}

TEST(ChartPoints, EachScaleTakesAPointEveryFactorRecords) {
    ChartPoints charts;
    std::vector<int> pointsOfScale(ChartPoints::kScales, 0);
    EXPECT_TRUE(charts.update(record(0), {0, 0}).empty());  // the reference only
    for (uint64_t second = 1; second <= 360; ++second) {
        for (const ChartPoints::Point& point : charts.update(record(second * 1000), {0, 0}))
            ++pointsOfScale[point.scale];
    }
    EXPECT_EQ(pointsOfScale, (std::vector<int>{360, 60, 6, 1}));
    EXPECT_EQ(ChartPoints::graphIndex(3, 1, 8), 71);
    EXPECT_EQ(ChartPoints::spanSeconds(2), 6000.0);
    EXPECT_EQ(ChartPoints::tickSeconds(3), 3600.0);
}

TEST(ChartPoints, ValuesPerSecondAndAsShares) {
    ChartPoints charts;
    charts.update(record(1000, {.small = 10}), {0, 0});
    for (int second = 2; second <= 6; ++second)
        charts.update(record(second * 1000, {.small = 10}), {0, 0});
    // The 6th record after the reference closes the 6-second scale (6.5 s here).
    const std::vector<ChartPoints::Point> points = charts.update(
        record(7500, {.small = 10 + 39, .medium = 13, .crc = 13, .bytes = 6500}), {12.5, 3.0});
    ASSERT_EQ(points.size(), 2u);
    const ChartPoints::Point& six = points[1];
    EXPECT_EQ(six.scale, 1);
    const auto& perSecond = six.values[0][0];
    EXPECT_DOUBLE_EQ(perSecond[0], 6.0);     // 39 small over 6.5 s
    EXPECT_DOUBLE_EQ(perSecond[4], 2.0);     // CRC errors
    EXPECT_DOUBLE_EQ(perSecond[6], 8.0);     // valid
    EXPECT_DOUBLE_EQ(perSecond[8], 1000.0);  // bytes
    const auto& shares = six.values[0][1];
    EXPECT_DOUBLE_EQ(shares[0], 60.0);  // 39 of 65 packets
    EXPECT_DOUBLE_EQ(shares[7], 20.0);
    // Series 8 is the usage since the previous record on every scale.
    EXPECT_DOUBLE_EQ(shares[8], 12.5);
    EXPECT_DOUBLE_EQ(six.values[1][1][8], 3.0);
    EXPECT_DOUBLE_EQ(six.values[1][1][0], 0.0);  // port B: no packets, no share
    // Over 1.5 s on the 1-second scale.
    EXPECT_DOUBLE_EQ(points[0].values[0][0][0], 26.0);
}

TEST(ChartPoints, NoPointOverNoTimeAndNoneAfterARestart) {
    ChartPoints charts;
    charts.update(record(1000, {.small = 1}), {0, 0});
    EXPECT_TRUE(charts.update(record(1000, {.small = 5}), {0, 0}).empty());
    const std::vector<ChartPoints::Point> points =
        charts.update(record(2000, {.small = 9}), {0, 0});
    ASSERT_EQ(points.size(), 1u);
    EXPECT_DOUBLE_EQ(points[0].values[0][0][0], 4.0);
    for (const auto& values : points[0].values)
        for (const auto& mode : values)
            for (double value : mode) EXPECT_TRUE(std::isfinite(value));
    charts.restart();
    EXPECT_TRUE(charts.update(record(3000, {.small = 100}), {0, 0}).empty());
    EXPECT_DOUBLE_EQ(charts.update(record(4000, {.small = 103}), {0, 0})[0].values[0][0][0], 3.0);
}

class StatisticsModelTest : public ::testing::Test {
  protected:
    bool linkUp_ = false;
    int resets_ = 0;
    StatisticsModel model_{[this] { ++resets_; }, linkUp_};
    AlarmThresholds thresholds_;
};

TEST_F(StatisticsModelTest, TheFirstRecordSetsTheBasesAndShowsOnlyTheLink) {
    NettlebeamApiStatistics first = record(1000, {.small = 7, .dropped = 4}, {.dropped = 5},
                                           (2 * 3600 + 3 * 60 + 9) * 1000 + 999);
    first.data.v1.linkDownTime = 1999;
    StatisticsFrame frame = model_.update(first, thresholds_);
    EXPECT_EQ(frame.linkEvent, LinkTracker::Event::Up);
    EXPECT_FALSE(frame.tables[0] || frame.tables[1]);
    EXPECT_TRUE(frame.chartPoints.empty());
    EXPECT_EQ(frame.ports[0].usageNow, 0.0);
    EXPECT_FALSE(frame.ports[0].averageBandwidth.has_value());
    EXPECT_EQ(frame.droppedText, QStringLiteral("9"));
    EXPECT_EQ(frame.linkUpText, QStringLiteral("2:03:09"));
    EXPECT_EQ(frame.linkDownText, QStringLiteral("1.999 s"));

    frame = model_.update(record(2000, {.small = 17, .bytes = 640, .capacity = 3200}, {},
                                 first.data.v1.linkUpTime + 1000),
                          thresholds_);
    EXPECT_EQ(frame.linkEvent, LinkTracker::Event::None);
    ASSERT_TRUE(frame.tables[0] && frame.tables[1]);
    EXPECT_EQ(frame.tables[0]->valid[1], row("10", "10", "100.00"));
    EXPECT_DOUBLE_EQ(frame.ports[0].usageNow, 26.25);  // (640 + 200) / 3200
    EXPECT_DOUBLE_EQ(*frame.ports[0].averageBandwidth, 26.25);
    EXPECT_EQ(frame.chartPoints.size(), 1u);
    EXPECT_EQ(resets_, 0);
}

TEST_F(StatisticsModelTest, ClearingOnePortLeavesTheOtherAlone) {
    model_.update(record(1000, {.small = 1}, {.small = 1}), thresholds_);
    model_.update(record(2000, {.small = 2}, {.small = 2}), thresholds_);
    model_.resetPort(0);
    StatisticsFrame frame = model_.update(record(3000, {.small = 4}, {.small = 4}), thresholds_);
    EXPECT_FALSE(frame.tables[0].has_value());
    EXPECT_FALSE(frame.ports[0].averageBandwidth.has_value());
    ASSERT_TRUE(frame.tables[1].has_value());
    EXPECT_EQ(frame.tables[1]->valid[0], row("3", "2", "100.00"));
    EXPECT_TRUE(frame.ports[1].averageBandwidth.has_value());
    EXPECT_EQ(frame.chartPoints.size(), 1u);  // the charts go on
    frame = model_.update(record(4000, {.small = 8}, {.small = 8}), thresholds_);
    EXPECT_EQ(frame.tables[0]->valid[0], row("4", "4", "100.00"));
    EXPECT_EQ(frame.tables[1]->valid[0], row("7", "4", "100.00"));
}

TEST_F(StatisticsModelTest, AnUpTimeGoingBackStartsEverythingOverWithThatRecord) {
    thresholds_.crcOn = {true, true};
    thresholds_.crc = {50.0, 0.0};
    model_.update(record(1000, {.small = 100}), thresholds_);
    model_.update(record(2000, {.small = 200}), thresholds_);
    StatisticsFrame frame =
        model_.update(record(3000, {.small = 5, .crc = 5}, {}, 10), thresholds_);
    EXPECT_EQ(resets_, 1);
    EXPECT_EQ(frame.linkEvent, LinkTracker::Event::Down);
    // The record after the link came back is the new base: nothing to show
    // yet, no difference against the records before the link went down.
    EXPECT_FALSE(frame.tables[0].has_value());
    EXPECT_TRUE(frame.chartPoints.empty());
    EXPECT_EQ(frame.ports[0].usageNow, 0.0);
    // The alarm reference is not part of the history: CRC errors since the
    // last record count (5 of 5 + 1).
    ASSERT_EQ(frame.alarms.size(), 2);
    EXPECT_NEAR(frame.alarms[0].value, 500.0 / 6, 1e-9);

    frame = model_.update(record(4000, {.small = 15, .crc = 5}, {}, 1010), thresholds_);
    EXPECT_EQ(frame.linkEvent, LinkTracker::Event::Up);
    EXPECT_EQ(frame.tables[0]->valid[1], row("10", "10", "100.00"));
    EXPECT_EQ(frame.chartPoints.size(), 1u);
    EXPECT_EQ(resets_, 1);
}

TEST(StatisticsModel, LinkTextsUseFractionalSeconds) {
    EXPECT_EQ(StatisticsModel::linkDownText(0), QStringLiteral("0.000 s"));
    EXPECT_EQ(StatisticsModel::linkDownText(123456), QStringLiteral("123.456 s"));
    EXPECT_EQ(StatisticsModel::linkUpText(59999), QStringLiteral("0:00:59"));
    EXPECT_EQ(StatisticsModel::linkUpText(360000000), QStringLiteral("100:00:00"));
}
