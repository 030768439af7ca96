// Direct capture (the driver writes capture files) and memory capture (the
// caller reads the capture out of the driver): settings, state and status.
// The frames themselves come from the traffic engine, which reports its
// progress through `progress()`.
#pragma once

#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <vector>

namespace nettlebeam::driver::sim {

struct DirectCaptureSettings {
    bool loop = false;
    bool extraOption = false;
    bool fullFrames = false;
    uint32_t fileCount = 1;
    uint32_t fileDuration = 0;  // seconds, 0 no limit
    uint32_t mode = 0;
    uint64_t fileSize = 0;             // bytes, 0 no limit
    uint64_t maxCache = 100ull << 20;  // bytes
    std::u16string fileName;           // full path without its terminator
};

// What the writer has done so far in the running capture.
struct CaptureProgress {
    uint64_t cacheUsed = 0;
    uint64_t bytesWritten = 0;
    uint64_t bytesDropped = 0;
    uint64_t filesWritten = 0;
    uint32_t errorCode = 0;  // driver error code: 0, 1, 2, 8 or 16
    bool cacheAlarm = false;
    std::u16string currentFile;
};

class CaptureModel {
  public:
    static constexpr size_t kStatusSize = 8256;
    // The capture-state change: state word (1 running) and driver error code.
    using StateListener = std::function<void(uint32_t state, uint64_t errorCode)>;

    CaptureModel(bool fullFramesSupported, StateListener listener)
        : fullFramesSupported_(fullFramesSupported), listener_(std::move(listener)) {}

    // One direct-capture setting request; false leaves the settings unchanged.
    bool applySetting(uint32_t code, std::span<const uint8_t> payload);
    bool startDirect();
    bool stopDirect();
    std::vector<uint8_t> directStatus() const;

    bool setMemoryMode(std::span<const uint8_t> payload);
    bool startMemory();
    bool stopMemory();
    // The pcapng section header and the interface descriptions of both ports.
    static std::vector<uint8_t> memoryHeader(uint32_t snapLength);

    // Power-on: nothing runs and the settings are the defaults.
    void powerOn();

    bool directRunning() const { return directRunning_; }
    bool memoryRunning() const { return memoryRunning_; }
    const DirectCaptureSettings& settings() const { return settings_; }
    CaptureProgress& progress() { return progress_; }

  private:
    bool fullFramesSupported_;
    StateListener listener_;
    DirectCaptureSettings settings_;
    CaptureProgress progress_;
    bool directRunning_ = false;
    bool memoryRunning_ = false;
    bool memoryModeSet_ = false;
};

// Decodes a UTF-16LE path with its terminator; empty when it is not one.
std::u16string decodeCapturePath(std::span<const uint8_t> payload);

}  // namespace nettlebeam::driver::sim
