#include "timingdisplay.h"

#include <QDate>
#include <QLocale>

#include "timesource.h"
#include "timingchart.h"
#include "ui_mainwindow.h"

namespace {

enum class Bullet { Green, Yellow, Red };

void setBullet(QLabel* label, Bullet bullet) {
    static const QPixmap green(QStringLiteral(":/gps/green.png"));
    static const QPixmap yellow(QStringLiteral(":/gps/yellow.png"));
    static const QPixmap red(QStringLiteral(":/gps/red.png"));
    const QPixmap& pixmap = bullet == Bullet::Green    ? green
                            : bullet == Bullet::Yellow ? yellow
                                                       : red;
    if (label->pixmap(Qt::ReturnByValue).cacheKey() != pixmap.cacheKey()) label->setPixmap(pixmap);
}

Bullet greenWhenOne(int32_t flag) {
    return flag == 1 ? Bullet::Green : Bullet::Red;
}

Bullet fixBullet(int32_t fix) {
    if (fix == 1) return Bullet::Yellow;
    if (fix == 2) return Bullet::Green;
    return Bullet::Red;
}

void setText(QLabel* label, const QString& text) {
    if (label->text() != text) label->setText(text);
}

}  // namespace

QString TimingDisplay::satellitesText(const NettlebeamApiTimingStatus& s) {
    if (s.timingFlagA == 1) {
        return QStringLiteral(
                   "GPS : %1 GLONASS : %2 Satellites used : %3\nGPS PPS estimated accuracy : %4 "
                   "ns\n"
                   "Deviation from PPS : %5 ns\n")
            .arg(s.gpsSatellites)
            .arg(s.glonassSatellites)
            .arg(s.satellitesUsed)
            .arg(s.ppsAccuracy)
            .arg(s.ppsDeviation);
    }
    return QStringLiteral(
               "GPS : %1 GLONASS : %2 Satellites used : %3\nDeviation from PPS : %4 ns\n")
        .arg(s.gpsSatellites)
        .arg(s.glonassSatellites)
        .arg(s.satellitesUsed)
        .arg(s.ppsDeviation);
}

QString TimingDisplay::timeSourceText(int32_t source) {
    switch (source) {
        case TimeSource::kSystemClock:
        case TimeSource::kUnlisted:
            return QStringLiteral("System clock");
        case TimeSource::kRtc:
            return QStringLiteral("RTC");
        case TimeSource::kGps:
            return QStringLiteral("GPS");
        case TimeSource::kManual:
            return QStringLiteral("Manual");
        case TimeSource::kSntp:
            return QStringLiteral("SNTP");
        default:
            return QString();
    }
}

QString TimingDisplay::rtcText(const NettlebeamApiTimingStatus& s) {
    const QDate date(s.rtcYear, s.rtcMonth, s.rtcDay);
    const QString time = QStringLiteral("%1:%2:%3")
                             .arg(s.rtcHour, 2, 10, QLatin1Char('0'))
                             .arg(s.rtcMinute, 2, 10, QLatin1Char('0'))
                             .arg(s.rtcSecond, 2, 10, QLatin1Char('0'));
    return QLocale().toString(date, QLocale::ShortFormat) + QLatin1Char(' ') + time +
           QStringLiteral(" (UTC)");
}

void TimingDisplay::show(Ui::MainWindow& ui, const NettlebeamApiTimingStatus& status,
                         double nowSeconds) {
    setBullet(ui.GPSDetectedBullet, Bullet::Green);
    setBullet(ui.GPSFixBullet, fixBullet(status.gpsFix));
    setBullet(ui.TRAIMBullet, greenWhenOne(status.timingFlagA));
    setBullet(ui.ExtPPSBullet, greenWhenOne(status.timingFlagB));
    setBullet(ui.OscSyncedBullet, greenWhenOne(status.timingFlagC));
    setText(ui.GPSSats, satellitesText(status));
    const QString source = timeSourceText(status.timeSource);
    setText(ui.TimingTimeSource, source);
    setBullet(ui.SystemSyncedBullet, source.isEmpty() ? Bullet::Red : Bullet::Green);
    setText(ui.TimingCurrentTime, rtcText(status));
    ui.timingChart->addPoint(nowSeconds, status.ppsDeviation);
}
