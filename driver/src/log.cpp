#include "log.h"

#include <time.h>

#include <cstdio>

namespace nettlebeam::driver {

void logLine(const std::string& message) {
    timespec now{};
    clock_gettime(CLOCK_REALTIME, &now);
    tm local{};
    localtime_r(&now.tv_sec, &local);
    char stamp[32];
    strftime(stamp, sizeof(stamp), "%H:%M:%S", &local);
    std::fprintf(stderr, "nettlebeamd %s.%03ld: %s\n", stamp, now.tv_nsec / 1000000,
                 message.c_str());
}

void RepeatedEvent::flush(Clock::time_point now,
                          const std::function<std::string(uint64_t)>& describe) {
    if (pending_ == 0 || (logged_ && now - lastLine_ < period_)) return;
    logLine(describe(pending_));
    pending_ = 0;
    lastLine_ = now;
    logged_ = true;
}

}  // namespace nettlebeam::driver
