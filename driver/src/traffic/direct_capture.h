// Direct capture: frames that reach the host are encoded as pcapng packet
// blocks into a bounded cache, and a writer thread moves them into capture
// files, rotating by size, duration and count.
//
// The cache holds ready-made file bytes, so the writer needs no per-frame
// work beyond a system call per chunk of them. When the cache is full the
// frame is dropped and counted (bytes dropped, per-port drops in the
// interface statistics, error code 16 once per capture); nothing is lost
// silently.
//
// Options as this driver reads them: `extraOption` makes every file flushed
// to the disk (fsync) when it is closed; `fullFrames` captures frames whole
// even while packet slicing is on. Each file ends with one interface
// statistics block per port: frames received since the capture started,
// frames dropped (by the device's CRC rule or for lack of cache) and frames
// accepted by the filters. `fileSize` counts the file's header and packet
// blocks; the closing statistics blocks come on top.
#pragma once

#include <array>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <memory>
#include <mutex>
#include <span>
#include <string>
#include <thread>
#include <vector>

#include "batch_mutex.h"
#include "capture_files.h"
#include "chunk_cache.h"
#include "counters.h"
#include "frame.h"

namespace nettlebeam::traffic {

struct DirectCaptureSettings {
    bool loop = false;
    bool extraOption = false;
    bool fullFrames = false;
    uint32_t mode = 0;
    std::string path;  // base name, a full path
    uint64_t fileSize = 0;
    uint64_t maxCache = 100ull << 20;
    int32_t fileCount = 0;
    int32_t fileDuration = 0;  // seconds
};

// What became of one port's frames during a capture run. Every frame that
// arrived while the capture ran is in exactly one of the last three.
struct PortTotals {
    uint64_t received = 0;
    uint64_t written = 0;
    uint64_t dropped = 0;
    uint64_t filtered = 0;
};

// Something the host must announce on the event channel.
struct CaptureEvent {
    enum class Kind { NewFile, State } kind = Kind::State;
    std::string path;  // NewFile: the file's full name
    bool enabled = false;
    uint32_t error = 0;
    bool ended = false;  // State: a run that took frames ended; totals are final
    std::array<PortTotals, 2> totals{};
    std::string failure;  // State, ended: what went wrong, with the system's reason
};

struct DirectCaptureStatus {
    bool enabled = false;
    bool cachePressure = false;  // the cache is at least three quarters full
    uint64_t cacheUsed = 0;
    uint64_t bytesWritten = 0;
    uint64_t bytesDropped = 0;
    uint32_t error = 0;
    uint64_t cacheSize = 0;
    uint64_t filesWritten = 0;
    uint64_t framesWritten = 0;  // packet blocks in the files, both ports
    std::string currentFile;
};

// Per-port counts of one capture run.
struct CaptureTally {
    std::atomic<uint64_t> received{0};
    std::atomic<uint64_t> accepted{0};  // passed the filters and the device
    std::atomic<uint64_t> written{0};   // packet blocks that reached a file
    std::atomic<uint64_t> dropped{0};   // device CRC rule, full cache, or left over at the end
    std::atomic<uint64_t> filtered{0};  // filters or a disabled port
};

class DirectCapture {
  public:
    static constexpr uint64_t kMaxCache = 8ull << 30;
    static constexpr size_t kStatusReplySize = 8256;

    DirectCapture();
    ~DirectCapture();
    DirectCapture(const DirectCapture&) = delete;
    DirectCapture& operator=(const DirectCapture&) = delete;

    // Control side. start() creates the first file before it returns; false
    // when the capture cannot start (the status then carries the error).
    bool start(const DirectCaptureSettings& settings, uint32_t snapLength);
    // Stops, writes what is in the cache, closes the file. Waits for the writer.
    void stop();
    // The same without waiting: the writer empties the cache and closes the
    // file in the background (the status stays enabled until then). The flag
    // turns true once it has; it outlives this object. A capture cannot
    // start again before the previous one has closed its file.
    std::shared_ptr<const std::atomic<bool>> stopInBackground();
    DirectCaptureStatus status() const;
    // The status's enabled flag alone, without the lock the engine's batches
    // hold: the control thread asks it with every capture request.
    bool enabled() const { return enabled_.load(); }
    // The 8256-byte status reply: eight little-endian 64-bit words (enabled,
    // cache pressure, cache used, bytes written, bytes dropped, error code,
    // cache size, files written), then the current file's full name in UTF-16
    // with its terminating zero.
    std::vector<uint8_t> statusReply() const;
    std::vector<CaptureEvent> takeEvents();
    // The first failure of the last capture in words (the file and the
    // system's reason), for the log; empty when none.
    std::string failure() const;
    const CaptureTally& tally(Port port) const { return tally_[static_cast<size_t>(port)]; }

    // Engine side: a batch of frames holds the lock; the writer sees the
    // frames it stored once it ends.
    class FrameBatch {
      public:
        explicit FrameBatch(DirectCapture& capture)
            : capture_(capture), lock_(capture.sessionMutex_) {}
        ~FrameBatch() { capture_.publishFrames(); }
        FrameBatch(const FrameBatch&) = delete;
        FrameBatch& operator=(const FrameBatch&) = delete;

      private:
        DirectCapture& capture_;
        BatchMutex::Batch lock_;
    };
    FrameBatch lockForFrames() { return FrameBatch(*this); }
    // True while frames are being taken (checked under the lock).
    bool accepting() const;
    // The running capture takes whole frames despite slicing (under the lock).
    bool fullFrames() const;
    // Records what happened to a frame of this capture that was not offered.
    void account(Port port, Delivery delivery);
    // `count` frames of the port that were lost before they reached the
    // device's host path (under the lock).
    void accountLost(Port port, uint64_t count);
    // Stores one frame (data then extra, cut to `captured` bytes); false when
    // the cache is full and the frame was dropped.
    bool offer(Port port, uint64_t timestampNs, std::span<const uint8_t> data,
               std::span<const uint8_t> extra, uint32_t originalLength);

  private:
    struct Session;
    void writerLoop(Session& session);
    bool openNextFile(Session& session);
    bool closeFile(Session& session);
    bool writeChunk(Session& session, std::span<const uint8_t> chunk);
    void finish(Session& session, uint32_t error);
    void discardCache(Session& session);
    void postState(bool enabled, uint32_t error);
    void postEnd(uint32_t error);
    void publishFrames();  // under sessionMutex_
    void setError(uint32_t error);
    void setFailure(uint32_t error, const std::string& why);

    BatchMutex sessionMutex_;  // session_ against the engine's batches
    std::unique_ptr<Session> session_;
    std::unique_ptr<Session> stopping_;  // under controlMutex_: writing its last bytes
    mutable std::mutex controlMutex_;    // start and stop, and the session they change
    std::array<CaptureTally, 2> tally_;

    std::atomic<bool> enabled_{false};
    std::atomic<uint64_t> bytesWritten_{0};
    std::atomic<uint64_t> bytesDropped_{0};
    std::atomic<uint32_t> error_{0};
    std::atomic<uint64_t> cacheSize_{0};
    std::atomic<uint64_t> filesWritten_{0};
    mutable std::mutex fileNameMutex_;
    std::string currentFile_;
    std::string failure_;  // under fileNameMutex_

    std::mutex eventMutex_;
    std::vector<CaptureEvent> events_;
};

}  // namespace nettlebeam::traffic
