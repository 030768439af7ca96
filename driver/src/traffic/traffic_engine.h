// One device's traffic: a thread takes frames from the device's source,
// classifies each once, counts it in the hardware counters, applies the
// device's features and filters, and hands what reaches the host to the
// direct capture and the memory capture.
//
// What happens to a frame, in order: a frame on a disabled port is not
// delivered (it is still counted by the port's counters, which see the
// wire); a frame with a CRC error, jabber or collision is dropped by the
// device unless "keep CRC errors" is on (counted as a hardware drop); the
// packet-type, packet and DPI filters may discard it; what is left is sliced
// to the slicing length when slicing is on (not for a direct capture with
// full frames), keeps its FCS when "keep CRC32" is on (computed for replayed
// frames, which lost theirs), and carries the device's nanosecond timestamp
// when timestamps are on, else the arrival time in whole microseconds.
// Programmable counters see every frame; their "dropped" condition holds for
// frames dropped by the device or for lack of host cache.
#pragma once

#include <array>
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <span>
#include <thread>

#include "capture_features.h"
#include "counters.h"
#include "direct_capture.h"
#include "filters.h"
#include "frame_source.h"
#include "memory_capture.h"

namespace nettlebeam::traffic {

class TrafficEngine {
  public:
    explicit TrafficEngine(std::unique_ptr<FrameSource> source);
    ~TrafficEngine();
    TrafficEngine(const TrafficEngine&) = delete;
    TrafficEngine& operator=(const TrafficEngine&) = delete;

    void start();
    void stop();
    // Passed to the source; see FrameSource::keepWholeFrames.
    void keepWholeFrames(bool whole) {
        if (source_) source_->keepWholeFrames(whole);
    }
    // True once a source that ends (a replay without loop) has sent everything.
    bool exhausted() const { return exhausted_.load(); }

    // The port's link: frames of a port without link are not received at
    // all; while it is up the source follows the line's speed and duplex.
    void setPortLink(Port port, bool up, const PortLine& line);
    void setFeatures(const CaptureFeatures& features);
    void setFilters(const FilterSet& filters);
    CaptureFeatures features() const;
    // The snap length the capture files declare for the current features.
    uint32_t snapLength(bool fullFrames) const;

    CounterBank& counters() { return counters_; }
    const CounterBank& counters() const { return counters_; }
    const PortCounters& port(Port p) const { return ports_[static_cast<size_t>(p)]; }
    uint64_t framesSeen() const { return framesSeen_.load(std::memory_order_relaxed); }
    // Frames lost because a host cache (direct or memory capture) was full.
    uint64_t hostDropped() const { return hostDropped_.load(std::memory_order_relaxed); }
    DirectCapture& directCapture() { return direct_; }
    const DirectCapture& directCapture() const { return direct_; }
    MemoryCapture& memoryCapture() { return memory_; }
    const MemoryCapture& memoryCapture() const { return memory_; }

    // Processes one frame on the caller's thread, as the engine thread does
    // for every frame of its source (for tests and tools without a thread).
    void feed(const Frame& frame);

  private:
    struct Config {
        CaptureFeatures features;
        FilterSet filters;
    };
    void run();
    // Sleeps until the source's descriptor is readable, the stop is asked
    // or `dueNs` has come.
    void waitReadable(uint64_t nowNs, uint64_t dueNs);
    void refreshConfig();
    // Counts what the source lost before handing it over as host drops.
    void countLost();
    void process(const Frame& frame);
    // What becomes of a frame, given whether the filters pass it; counts it
    // in its port's counters.
    Delivery route(const Frame& frame, bool passesFilters);
    void deliver(const Frame& frame, Delivery& delivery);

    std::unique_ptr<FrameSource> source_;
    std::thread thread_;
    std::atomic<bool> stopRequested_{false};
    std::atomic<bool> exhausted_{false};
    std::mutex wakeMutex_;
    std::condition_variable wake_;
    int sourceFd_ = -1;  // the source's wake descriptor, -1 for a paced source
    int stopFd_ = -1;    // readable once the stop is asked; only with sourceFd_

    mutable std::mutex configMutex_;
    Config shared_;
    std::atomic<uint64_t> configGeneration_{1};
    Config active_;           // engine thread's copy
    bool filtering_ = false;  // a filter of active_ is on
    // Whether the direct capture takes frames, as it was when the batch took
    // its lock. A capture that ends on its own during the batch still counts
    // the batch's frames, as dropped, when it discards its cache after it.
    bool directAccepting_ = false;
    uint64_t activeGeneration_ = 0;
    std::array<std::atomic<bool>, 2> linkUp_{true, true};
    std::mutex lineMutex_;
    std::array<PortLine, 2> lines_{};  // under lineMutex_
    std::atomic<uint64_t> lineGeneration_{0};
    uint64_t sourceLineGeneration_ = 0;  // engine thread

    CounterBank counters_;
    std::array<PortCounters, 2> ports_;
    std::atomic<uint64_t> framesSeen_{0};
    std::atomic<uint64_t> hostDropped_{0};
    DirectCapture direct_;
    MemoryCapture memory_;
    std::array<uint8_t, 4> fcsBytes_{};
};

// Nanoseconds since the Unix epoch, advancing steadily.
uint64_t steadyWallClockNs();

}  // namespace nettlebeam::traffic
