// The traffic side of one simulated device: its frame source and engine,
// kept in step with the device's configuration block, filters and
// programmable counters, and answering the capture requests.
//
// Every device has one, so direct and memory captures always write real
// pcapng data; a device attached without traffic or replay simply carries
// no frames.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "frame_source.h"
#include "pcapng.h"
#include "replay_source.h"
#include "request_codes.h"
#include "traffic_engine.h"

namespace nettlebeam::traffic {

// Where a device's frames come from, as `nettlebeamd attach` sets it.
struct TrafficSourceSettings {
    std::string traffic;     // the --traffic text; "" none
    std::string replayFile;  // --replay; "" none
    std::string replaySpeed = "1";
    bool replayLoop = false;
    ReplayPorts replayPorts = ReplayPorts::A;
    bool any() const { return !traffic.empty() || !replayFile.empty(); }
};

// Checks the settings and builds their source: null when there is none.
// Throws std::invalid_argument (bad option text) or std::runtime_error (a
// replay file that is missing, damaged or not a capture), naming the problem.
std::unique_ptr<FrameSource> makeFrameSource(const TrafficSourceSettings& settings,
                                             std::array<PortLine, 2> lines);

class DeviceTraffic {
  public:
    // `handle` names the device in the log lines of the captures it ends.
    DeviceTraffic(std::unique_ptr<FrameSource> source, int32_t handle);
    // Stops the captures; the summary of one that was running is logged.
    ~DeviceTraffic();
    DeviceTraffic(const DeviceTraffic&) = delete;
    DeviceTraffic& operator=(const DeviceTraffic&) = delete;
    bool carriesTraffic() const { return hasSource_; }
    TrafficEngine& engine() { return engine_; }

    void setPortLink(Port port, bool up, const PortLine& line) {
        engine_.setPortLink(port, up, line);
    }
    // The capture features of the device's configuration.
    void setCaptureFeatures(const CaptureFeatures& features) { engine_.setFeatures(features); }
    // The current filter blocks (packet type 8, DPI 224, packet filter 248 bytes).
    void applyFilters(std::span<const uint8_t> packetType, std::span<const uint8_t> dpi,
                      std::span<const uint8_t> packetFilter);
    bool programCounter(std::span<const uint8_t> block) {
        return engine_.counters().program(block);
    }

    // Statistics: the two port groups of the 160-byte format-1 reply
    // (words 0..15), the 128-byte format-2 reply and the host-drop counter.
    void fillPortGroups(std::vector<uint8_t>& format1, bool portAFirst) const;
    std::vector<uint8_t> format2() const { return engine_.counters().reply(); }
    uint64_t hostDropped() const { return engine_.hostDropped(); }

    // Direct capture. The configured settings show in the status until a capture starts.
    void configureDirect(const DirectCaptureSettings& settings);
    bool startDirect();
    void stopDirect() {
        engine_.directCapture().stop();
        followWholeFrames();
    }
    std::shared_ptr<const std::atomic<bool>> stopDirectInBackground() {
        auto closed = engine_.directCapture().stopInBackground();
        followWholeFrames();
        return closed;
    }
    bool directRunning() const { return engine_.directCapture().enabled(); }
    std::vector<uint8_t> directStatus() const;
    // Frames in the files of the current or last capture; 0 before the first.
    uint64_t directFramesWritten() const { return engine_.directCapture().status().framesWritten; }
    // Why the last capture could not start or ended with an error.
    std::string directFailure() const { return engine_.directCapture().failure(); }

    // Memory capture.
    bool startMemory();
    void stopMemory() {
        engine_.memoryCapture().stop();
        followWholeFrames();
    }
    bool memoryRunning() const { return engine_.memoryCapture().running(); }
    std::vector<uint8_t> memoryHeader(uint32_t capacity) const;
    std::vector<uint8_t> memoryData(uint32_t capacity);

    // Event records (new capture file, capture state) to post for the device.
    std::vector<std::vector<uint8_t>> takeEventRecords();

  private:
    // Tells the source whether whole frames are needed: while a capture
    // runs or the DPI filter is on. Before a capture starts, so its first
    // frames are whole; after one stops.
    void followWholeFrames(bool starting = false);

    bool hasSource_;
    bool dpiEnabled_ = false;
    int32_t handle_;
    TrafficEngine engine_;
    DirectCaptureSettings configured_;
    bool configuredOnce_ = false;
    bool startedOnce_ = false;
    std::vector<uint8_t> packetType_, dpi_, packetFilter_;
};

}  // namespace nettlebeam::traffic
