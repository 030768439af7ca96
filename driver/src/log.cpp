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

}  // namespace nettlebeam::driver
