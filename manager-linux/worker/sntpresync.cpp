#include "sntpresync.h"

#include <QThread>
#include <QtDebug>

std::optional<uint32_t> obtainSntpSeconds(const SntpQuery& query) {
    for (int attempt = 0; attempt < kSntpAttempts; ++attempt) {
        SntpTime time;
        if (query(&time) != 0) {
            qDebug("Failed to get time from SNTP, retrying\n");
        } else if (time.nanoseconds < kSntpEarliestNanoseconds ||
                   time.nanoseconds > kSntpLatestNanoseconds) {
            qDebug("SNTP : second boundary too close, retrying\n");
        } else {
            qDebug("Successfuly received SNTP time\n");
            return time.unixSeconds;
        }
        QThread::msleep(kSntpRetryPauseMs);
    }
    return std::nullopt;
}
