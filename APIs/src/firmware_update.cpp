// The firmware update worker and its two exports.
#include "firmware_update.h"

#include <array>
#include <chrono>
#include <exception>
#include <optional>
#include <vector>

#include "NettlebeamAPI.h"
#include "byte_order.h"
#include "codec/firmware_image.h"
#include "device_access.h"
#include "driver_channel.h"
#include "export_guard.h"
#include "firmware_file.h"
#include "request_codes.h"
#include "text_conversion.h"

namespace nettlebeam::api {

namespace {

constexpr auto kProgressPollPeriod = std::chrono::milliseconds(1000);
// Longest file name the worker accepts, in bytes with its terminator.
constexpr size_t kPathBufferBytes = 4096;

constexpr int32_t kProgressFirstUploaded = 5;
constexpr int32_t kProgressSecondStarts = 25;
constexpr int32_t kProgressSecondUploaded = 30;
constexpr int32_t kProgressDone = 100;

struct ImageRequests {
    uint32_t begin, data, finish, progress;
};

constexpr ImageRequests kFirstImage{wire::code::kFirmwareBegin1, wire::code::kFirmwareData1,
                                    wire::code::kFirmwareFinish1, wire::code::kFirmwareProgress1};
constexpr ImageRequests kSecondImage{wire::code::kFirmwareBegin2, wire::code::kFirmwareData2,
                                     wire::code::kFirmwareFinish2, wire::code::kFirmwareProgress2};

// Begin, the data blocks, finish: 0, or the failure that ended the upload.
int32_t upload(int32_t handle, const ImageRequests& requests, std::span<const uint8_t> image) {
    std::array<uint8_t, 4> length{};
    wire::writeLe32(length, 0, static_cast<uint32_t>(image.size()));
    if (int32_t r = sendCommand(handle, requests.begin, length.data(), length.size()); r != 0)
        return r;
    for (std::span<const uint8_t> block : codec::firmwareBlocks(image)) {
        if (sendCommand(handle, requests.data, block.data(), static_cast<uint32_t>(block.size())) !=
            0)
            return NETTLEBEAM_STATUS_FAILED;
    }
    return sendCommand(handle, requests.finish) == 0 ? NETTLEBEAM_STATUS_SUCCESS
                                                     : NETTLEBEAM_STATUS_FAILED;
}

}  // namespace

FirmwareUpdater::FirmwareUpdater() : status_(NETTLEBEAM_STATUS_NO_UPDATE_STARTED) {
    // The worker reads device records until this object is destroyed.
    Library::instance();
}

FirmwareUpdater& FirmwareUpdater::instance() {
    static FirmwareUpdater updater;
    return updater;
}

FirmwareUpdater::~FirmwareUpdater() {
    {
        std::lock_guard guard(pauseLock_);
        stopping_ = true;
    }
    pauseWake_.notify_all();
    std::lock_guard guard(lock_);
    if (worker_.joinable()) worker_.join();
}

int32_t FirmwareUpdater::start(int32_t handle, std::u16string path, bool pathGiven) {
    std::lock_guard guard(lock_);
    if (running_.load()) return NETTLEBEAM_STATUS_UPDATE_ALREADY_RUNNING;
    const int32_t statusBefore = status_.load();
    const int32_t progressBefore = progress_.load();
    status_.store(NETTLEBEAM_STATUS_UPDATE_IN_PROGRESS);
    running_.store(true);
    progress_.store(0);
    if (worker_.joinable()) worker_.join();
    try {
        worker_ = std::thread(&FirmwareUpdater::run, this, Job{handle, std::move(path), pathGiven});
    } catch (const std::exception&) {
        // No thread (out of threads or memory): no update runs, and the
        // progress export goes on telling how the last one ended.
        status_.store(statusBefore);
        progress_.store(progressBefore);
        running_.store(false);
        return NETTLEBEAM_STATUS_FAILED;
    }
    return NETTLEBEAM_STATUS_SUCCESS;
}

int32_t FirmwareUpdater::status(int32_t& progress) {
    {
        std::lock_guard guard(lock_);
        if (!running_.load() && worker_.joinable()) worker_.join();
    }
    progress = progress_.load();
    return status_.load();
}

void FirmwareUpdater::run(const Job& job) {
    int32_t status = NETTLEBEAM_STATUS_FAILED;
    // Nothing may leave the thread: an exception would end the process.
    try {
        status = update(job);
    } catch (...) {
    }
    // The status is final before the update stops counting as running.
    status_.store(status);
    running_.store(false);
}

int32_t FirmwareUpdater::update(const Job& job) {
    std::optional<std::string> path;
    if (job.pathGiven) path = utf16ToUtf8(job.path.c_str());
    if (!path || path->empty() || path->size() >= kPathBufferBytes)
        return NETTLEBEAM_STATUS_FILE_UNREADABLE;
    auto identity = deviceIdentity(job.handle);
    if (!identity) return NETTLEBEAM_STATUS_UNKNOWN_HANDLE;
    auto file = readFirmwareFile(*path);
    if (!file) return NETTLEBEAM_STATUS_FILE_UNREADABLE;
    codec::FirmwareImages images = codec::checkFirmwareImage(*file, identity->type);
    if (images.status != 0) return images.status;

    if (!images.first.empty()) {
        if (program(job.handle, false, images.first) != 0) return NETTLEBEAM_STATUS_FAILED;
    }
    if (!images.second.empty()) {
        progress_.store(kProgressSecondStarts);
        if (program(job.handle, true, images.second) != 0) return NETTLEBEAM_STATUS_FAILED;
    }
    progress_.store(kProgressDone);
    return NETTLEBEAM_STATUS_SUCCESS;
}

// Uploads one image and follows its programming. An upload or a progress
// request that fails ends the update as failed, the progress staying where it
// was: the device has not been programmed as asked.
int32_t FirmwareUpdater::program(int32_t handle, bool second, std::span<const uint8_t> image) {
    if (upload(handle, second ? kSecondImage : kFirstImage, image) != 0)
        return NETTLEBEAM_STATUS_FAILED;
    progress_.store(second ? kProgressSecondUploaded : kProgressFirstUploaded);
    return followProgramming(handle, second) ? NETTLEBEAM_STATUS_SUCCESS : NETTLEBEAM_STATUS_FAILED;
}

bool FirmwareUpdater::followProgramming(int32_t handle, bool second) {
    const ImageRequests& requests = second ? kSecondImage : kFirstImage;
    for (;;) {
        uint8_t programmed = 0;
        if (sendRequest(handle, requests.progress, nullptr, 0, &programmed, 1) < 0) return false;
        if (programmed == codec::kProgrammingDone) return true;
        auto progress =
            second ? codec::secondImageProgress(programmed) : codec::firstImageProgress(programmed);
        if (progress) progress_.store(*progress);
        if (!pause()) return false;
    }
}

bool FirmwareUpdater::pause() {
    std::unique_lock guard(pauseLock_);
    return !pauseWake_.wait_for(guard, kProgressPollPeriod, [this] { return stopping_; });
}

}  // namespace nettlebeam::api

namespace api = nettlebeam::api;

extern "C" {

int32_t NettlebeamAPIFirmwareUpdateStart(NettlebeamApiDeviceHandle handle,
                                         const NettlebeamApiChar16* path) {
    return api::guardedExport([&]() -> int32_t {
        if (!api::isKnownDevice(handle)) return NETTLEBEAM_STATUS_UNKNOWN_HANDLE;
        std::u16string copy = path != nullptr ? std::u16string(path) : std::u16string();
        return api::FirmwareUpdater::instance().start(handle, std::move(copy), path != nullptr);
    });
}

int32_t NettlebeamAPIFirmwareUpdateGetProgress(NettlebeamApiDeviceHandle handle,
                                               int32_t* progress) {
    return api::guardedExport([&]() -> int32_t {
        if (!api::isKnownDevice(handle)) return NETTLEBEAM_STATUS_UNKNOWN_HANDLE;
        int32_t current = 0;
        int32_t status = api::FirmwareUpdater::instance().status(current);
        if (progress != nullptr) *progress = current;
        return status;
    });
}

}  // extern "C"
