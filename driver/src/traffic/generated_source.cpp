#include "generated_source.h"

#include <algorithm>
#include <cmath>

namespace nettlebeam::traffic {
namespace {

// A source that cannot keep up does not owe more than this much traffic.
constexpr uint64_t kMostBacklogNs = 100'000'000;

TrafficProfile withSeed(TrafficProfile profile, uint64_t salt) {
    profile.seed = profile.seed * 2 + salt;
    return profile;
}

}  // namespace

GeneratedSource::GeneratedSource(const TrafficProfile& profile, std::array<PortLine, 2> lines)
    : profile_(profile),
      generators_{FrameGenerator(withSeed(profile, 0), lines[0].halfDuplex),
                  FrameGenerator(withSeed(profile, 1), lines[1].halfDuplex)} {
    for (size_t port = 0; port < 2; ++port) setLine(static_cast<Port>(port), lines[port]);
}

void GeneratedSource::setLine(Port port, const PortLine& line) {
    const auto p = static_cast<size_t>(port);
    generators_[p].setHalfDuplex(line.halfDuplex);
    const bool carries = port == Port::A ? profile_.portA : profile_.portB;
    const double rate = profile_.rateAt(line.mbitPerSecond);
    intervalNs_[p] = carries && rate > 0
                         ? std::max<uint64_t>(1, static_cast<uint64_t>(std::llround(1e9 / rate)))
                         : 0;
}

void GeneratedSource::begin(uint64_t nowNs) {
    dueNs_ = {nowNs, nowNs + intervalNs_[1] / 2};  // ports interleave
}

uint64_t GeneratedSource::nextDueNs() {
    uint64_t due = UINT64_MAX;
    for (size_t port = 0; port < 2; ++port)
        if (intervalNs_[port] != 0) due = std::min(due, dueNs_[port]);
    return due;
}

const Frame* GeneratedSource::next(uint64_t nowNs) {
    size_t port = 2;
    for (size_t p = 0; p < 2; ++p)
        if (intervalNs_[p] != 0 && dueNs_[p] <= nowNs && (port == 2 || dueNs_[p] < dueNs_[port]))
            port = p;
    if (port == 2) return nullptr;
    // After a stall, skip ahead instead of bursting the whole backlog.
    if (nowNs - dueNs_[port] > kMostBacklogNs) dueNs_[port] = nowNs - kMostBacklogNs;
    const uint64_t timestamp = dueNs_[port];
    dueNs_[port] += intervalNs_[port];
    return &generators_[port].make(static_cast<Port>(port), timestamp);
}

}  // namespace nettlebeam::traffic
