#include "tablecounters.h"

#include "statisticsmath.h"

namespace {

using Counter = uint64_t NettlebeamApiPortStatistics::*;

constexpr std::array<Counter, 5> kValidRows{
    &NettlebeamApiPortStatistics::totalValidPackets, &NettlebeamApiPortStatistics::lessThan64,
    &NettlebeamApiPortStatistics::from64To1518, &NettlebeamApiPortStatistics::moreThan1518,
    &NettlebeamApiPortStatistics::totalBytes};
constexpr std::array<Counter, 4> kInvalidRows{
    &NettlebeamApiPortStatistics::totalInvalidPackets, &NettlebeamApiPortStatistics::collisions,
    &NettlebeamApiPortStatistics::crcErrors, &NettlebeamApiPortStatistics::jabbers};
constexpr int kBytesRow = 4;

const QString kNone = QStringLiteral("-");

TableRowTexts rowTexts(Counter counter, const NettlebeamApiPortStatistics& total,
                       const NettlebeamApiPortStatistics& step, double seconds, bool withShare) {
    TableRowTexts texts;
    texts[0] = QString::asprintf("%llu", static_cast<unsigned long long>(total.*counter));
    const std::optional<double> rate = StatisticsMath::perSecond(step.*counter, seconds);
    texts[1] = rate ? QString::asprintf("%.0lf", *rate) : kNone;
    const uint64_t packets = StatisticsMath::packets(total);
    texts[2] = withShare && packets != 0
                   ? QString::asprintf("%.2lf", static_cast<double>(total.*counter) * 100.0 /
                                                    static_cast<double>(packets))
                   : kNone;
    return texts;
}

}  // namespace

std::optional<TableTexts> TableCounters::update(const NettlebeamApiStatistics& current) {
    if (firstSample_) {
        base_ = current;
        previous_ = current;
        firstSample_ = false;
        return std::nullopt;
    }
    const NettlebeamApiStatistics total = StatisticsMath::delta(current, base_);
    const NettlebeamApiStatistics step = StatisticsMath::delta(current, previous_);
    const double seconds = StatisticsMath::seconds(step.timestamp);
    const NettlebeamApiPortStatistics& totalPort = StatisticsMath::port(total, port_);
    const NettlebeamApiPortStatistics& stepPort = StatisticsMath::port(step, port_);
    TableTexts texts;
    for (size_t row = 0; row < kValidRows.size(); ++row) {
        texts.valid[row] =
            rowTexts(kValidRows[row], totalPort, stepPort, seconds, row != kBytesRow);
    }
    for (size_t row = 0; row < kInvalidRows.size(); ++row)
        texts.invalid[row] = rowTexts(kInvalidRows[row], totalPort, stepPort, seconds, true);
    previous_ = current;
    return texts;
}

TableTexts TableCounters::resetTexts() {
    const TableRowTexts zero{QStringLiteral("0"), QStringLiteral("0"), kNone};
    TableTexts texts;
    texts.valid.fill(zero);
    texts.invalid.fill(zero);
    return texts;
}
