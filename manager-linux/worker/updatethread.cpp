#include "updatethread.h"

#include <QString>
#include <cstring>
#include <string>

namespace {

// The path as the library wants it: the window's UTF-8 turned into UTF-16,
// stopping at the end of the field even when the window left no terminator.
std::u16string widePath(const char (&narrow)[kFirmwarePathSize]) {
    const QString path = QString::fromUtf8(narrow, int(qstrnlen(narrow, kFirmwarePathSize)));
    return std::u16string(reinterpret_cast<const char16_t*>(path.utf16()),
                          std::size_t(path.size()));
}

}  // namespace

UpdateThread::UpdateThread(const StatsThreadInfo& info, unsigned long pollIntervalMs)
    : info_(info), pollIntervalMs_(pollIntervalMs) {}

void UpdateThread::run() {
    const std::u16string path = widePath(info_.firmwarePath);
    if (NettlebeamAPIFirmwareUpdateStart(info_.handle, path.c_str()) != 0) {
        info_.updateSucceeded = false;
        emit signal_update_status(info_);
        return;
    }
    int32_t status;
    int32_t progress = 0;
    do {
        status = NettlebeamAPIFirmwareUpdateGetProgress(info_.handle, &progress);
        info_.updateProgress = progress;
        emit signal_update_progress(info_);
        msleep(pollIntervalMs_);
    } while (status == NETTLEBEAM_STATUS_UPDATE_IN_PROGRESS);
    info_.updateSucceeded = status == NETTLEBEAM_STATUS_SUCCESS;
    info_.updateProgress = progress;
    emit signal_update_progress(info_);
    emit signal_update_status(info_);
}
