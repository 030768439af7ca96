#include "statisticsmodel.h"

#include "statisticsmath.h"

StatisticsModel::StatisticsModel(std::function<void()> upTimeWentBack, bool& linkState)
    : upTimeWentBack_(std::move(upTimeWentBack)), link_(linkState) {}

StatisticsFrame StatisticsModel::update(const NettlebeamApiStatistics& record,
                                        const AlarmThresholds& thresholds) {
    StatisticsFrame frame;
    const NettlebeamApiStatisticsV1& counters = record.data.v1;
    const LinkTracker::Observation link =
        link_.observe(counters.linkUpTime, lastRecord_.data.v1.linkUpTime);
    if (link.upTimeWentBack) {
        reset();
        if (upTimeWentBack_) upTimeWentBack_();
    }
    frame.linkEvent = link.event;

    // The previous record's timestamp is needed by the averages below.
    const uint64_t previousTimestamp = lastRecord_.timestamp;
    const NettlebeamApiStatistics difference = StatisticsMath::isEmpty(lastRecord_)
                                                   ? NettlebeamApiStatistics{}
                                                   : StatisticsMath::delta(record, lastRecord_);
    lastRecord_ = record;

    std::array<double, 2> usageNow{};
    for (int port = 0; port < StatisticsMath::kPorts; ++port) {
        usageNow[port] = StatisticsMath::bandwidthUsage(StatisticsMath::port(difference, port));
        frame.tables[port] = tables_[port].update(record);
    }
    frame.droppedText = QString::asprintf(
        "%llu",
        static_cast<unsigned long long>(counters.portA.hwDropped + counters.portB.hwDropped));
    frame.linkUpText = linkUpText(counters.linkUpTime);
    frame.linkDownText = linkDownText(counters.linkDownTime);
    for (int port = 0; port < StatisticsMath::kPorts; ++port) {
        const PortAverages::Values averages =
            averages_[port].update(StatisticsMath::port(record, port), record.timestamp,
                                   previousTimestamp, usageNow[port]);
        frame.ports[port] = {usageNow[port], averages.bandwidth, averages.crcErrors};
    }
    frame.alarms = alarms_.check(record, usageNow, thresholds);
    frame.chartPoints = charts_.update(record, usageNow);
    return frame;
}

void StatisticsModel::reset() {
    lastRecord_ = {};
    resetPort(0);
    resetPort(1);
    charts_.restart();
}

void StatisticsModel::startDevice() {
    reset();
    alarms_.forget();
    link_.forget();
}

void StatisticsModel::resetPort(int port) {
    tables_[port].reset();
    averages_[port].reset();
}

QString StatisticsModel::linkUpText(uint64_t milliseconds) {
    const uint64_t seconds = milliseconds / 1000;
    return QString::asprintf("%d:%02d:%02d", static_cast<int>(seconds / 3600),
                             static_cast<int>(seconds / 60 % 60), static_cast<int>(seconds % 60));
}

QString StatisticsModel::linkDownText(uint64_t milliseconds) {
    return QString::asprintf("%.3f s", StatisticsMath::seconds(milliseconds));
}
