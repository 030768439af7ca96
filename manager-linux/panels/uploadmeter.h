// The progress of the file being sent: the bar's percentage on every sample,
// the speed at most once per second.
#pragma once

#include <QtGlobal>
#include <optional>

class UploadMeter {
  public:
    struct Reading {
        int percent = 0;
        // Bytes per second, only when a second or more passed since the last one.
        std::optional<qint64> speed;
    };

    // A new file starts: nothing sent yet at `nowMs`.
    void restart(qint64 nowMs);
    // Nothing when `total` is not positive (its size is not known yet).
    std::optional<Reading> sample(qint64 sent, qint64 total, qint64 nowMs);

  private:
    static constexpr qint64 kSpeedIntervalMs = 1000;
    qint64 lastMs_ = 0;
    qint64 lastSent_ = 0;
};
