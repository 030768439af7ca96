#include "uploadmeter.h"

#include <algorithm>

void UploadMeter::restart(qint64 nowMs) {
    lastMs_ = nowMs;
    lastSent_ = 0;
}

std::optional<UploadMeter::Reading> UploadMeter::sample(qint64 sent, qint64 total, qint64 nowMs) {
    if (total <= 0) return std::nullopt;
    Reading reading;
    // In 128 bits: sent x 100 overflows 64 for sizes past 92 PB.
    const __int128 percent = static_cast<__int128>(sent) * 100 / total;
    reading.percent = static_cast<int>(std::clamp<__int128>(percent, 0, 100));
    const qint64 elapsed = nowMs - lastMs_;
    if (elapsed >= kSpeedIntervalMs) {
        const __int128 speed = static_cast<__int128>(sent - lastSent_) * 1000 / elapsed;
        reading.speed = static_cast<qint64>(std::max<__int128>(speed, 0));
        lastMs_ = nowMs;
        lastSent_ = sent;
    }
    return reading;
}
