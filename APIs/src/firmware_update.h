// The firmware update: one worker thread at a time per process, which checks
// the image file, uploads its images and follows the device's programming.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <span>
#include <string>
#include <thread>

namespace nettlebeam::api {

class FirmwareUpdater {
  public:
    static FirmwareUpdater& instance();
    ~FirmwareUpdater();

    // 0 when the worker started; -12 while an update runs; -1 when no thread
    // could be started. The handle has been validated by the caller.
    int32_t start(int32_t handle, std::u16string path, bool pathGiven);
    // The status of the last update (-16 before any, -13 while one runs),
    // with its progress in percent.
    int32_t status(int32_t& progress);

  private:
    FirmwareUpdater();
    struct Job {
        int32_t handle;
        std::u16string path;
        bool pathGiven;
    };
    void run(const Job& job);
    int32_t update(const Job& job);
    int32_t program(int32_t handle, bool second, std::span<const uint8_t> image);
    // Polls the programming progress until the device reports the end;
    // false when a poll fails or the process is ending.
    bool followProgramming(int32_t handle, bool second);
    // Waits one polling period; false when the process is ending.
    bool pause();

    std::mutex lock_;  // guards worker_ and the start and collection of a worker
    std::thread worker_;
    std::atomic<bool> running_{false};
    std::atomic<int32_t> status_;
    std::atomic<int32_t> progress_{0};

    std::mutex pauseLock_;
    std::condition_variable pauseWake_;
    bool stopping_ = false;
};

}  // namespace nettlebeam::api
