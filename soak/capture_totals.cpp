#include "capture_totals.h"

#include <cinttypes>
#include <cstdio>
#include <fstream>

namespace nettlebeam::soak {
namespace {

struct PortLine {
    uint64_t received = 0, written = 0, dropped = 0, filtered = 0;
};

// Reads "port X received R, written W, dropped D, filtered F" at `text`.
bool readPort(const char* text, char name, PortLine& port) {
    char seen = 0;
    int consumed = 0;
    const int fields =
        std::sscanf(text,
                    "port %c received %" SCNu64 ", written %" SCNu64 ", dropped %" SCNu64
                    ", filtered %" SCNu64 "%n",
                    &seen, &port.received, &port.written, &port.dropped, &port.filtered, &consumed);
    return fields == 5 && seen == name;
}

}  // namespace

CaptureTotalsSummary checkCaptureTotals(const std::string& path, Checks& checks) {
    CaptureTotalsSummary summary;
    std::ifstream log(path);
    if (!log) {
        checks.fail("nettlebeamd's log " + path + " cannot be read");
        return summary;
    }
    std::string line;
    while (std::getline(log, line)) {
        if (line.find("capture ended") == std::string::npos) continue;
        summary.captures += 1;
        const size_t a = line.find("port A ");
        const size_t b = line.find("port B ");
        PortLine ports[2];
        if (a == std::string::npos || b == std::string::npos ||
            !readPort(line.c_str() + a, 'A', ports[0]) ||
            !readPort(line.c_str() + b, 'B', ports[1])) {
            checks.fail("unreadable capture summary: " + line);
            continue;
        }
        for (const PortLine& p : ports) {
            summary.frames += p.received;
            checks.expect(p.received == p.written + p.dropped + p.filtered,
                          "a capture lost frames without counting them: " + line);
        }
    }
    return summary;
}

}  // namespace nettlebeam::soak
