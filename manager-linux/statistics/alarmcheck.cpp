#include "alarmcheck.h"

#include "statisticsmath.h"

QString Alarm::text(const QString& time) const {
    const char* portName = port == 0 ? "Port A" : "Port B";
    const char* what = kind == Kind::Bandwidth ? "Bandwidth usage > %.2lf%% (%.2lf%%)"
                                               : "CRC error percentage > %.2lf%% (%.2lf%%)";
    return QStringLiteral("%1 - %2 ").arg(time, QLatin1String(portName)) +
           QString::asprintf(what, threshold, value);
}

QList<Alarm> AlarmCheck::check(const NettlebeamApiStatistics& current,
                               const std::array<double, 2>& usageNow,
                               const AlarmThresholds& thresholds) {
    QList<Alarm> alarms;
    if (firstSample_) {
        firstSample_ = false;
        reference_ = current;
        return alarms;
    }
    const NettlebeamApiStatistics difference = StatisticsMath::delta(current, reference_);
    for (int port = 0; port < StatisticsMath::kPorts; ++port) {
        if (thresholds.bandwidthOn[port] && usageNow[port] >= thresholds.bandwidth[port])
            alarms.append(
                {port, Alarm::Kind::Bandwidth, thresholds.bandwidth[port], usageNow[port]});
        const NettlebeamApiPortStatistics& counters = StatisticsMath::port(difference, port);
        const double crcShare = static_cast<double>(counters.crcErrors) * 100.0 /
                                (static_cast<double>(StatisticsMath::packets(counters)) + 1.0);
        if (thresholds.crcOn[port] && crcShare >= thresholds.crc[port])
            alarms.append({port, Alarm::Kind::CrcErrors, thresholds.crc[port], crcShare});
    }
    reference_ = current;
    return alarms;
}
