#include "capture_files.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>

namespace nettlebeam::traffic {

std::string ringFileName(const std::string& base, uint32_t number, std::time_t start,
                         uint32_t copy) {
    const size_t slash = base.find_last_of('/');
    const size_t dot = base.find_last_of('.');
    const bool hasExtension =
        dot != std::string::npos && (slash == std::string::npos || dot > slash + 1);
    const std::string stem = hasExtension ? base.substr(0, dot) : base;
    const std::string extension = hasExtension ? base.substr(dot) : "";
    std::tm local{};
    localtime_r(&start, &local);
    char middle[64];
    std::snprintf(middle, sizeof middle, "_%05u_%04d%02d%02d%02d%02d%02d", number,
                  local.tm_year + 1900, local.tm_mon + 1, local.tm_mday, local.tm_hour,
                  local.tm_min, local.tm_sec);
    const std::string copyText = copy > 1 ? "-" + std::to_string(copy) : "";
    return stem + middle + copyText + extension;
}

CaptureError writeErrorCode(int error) {
    return (error == ENOSPC || error == EDQUOT || error == EFBIG) ? kCaptureDiskFull
                                                                  : kCaptureWriteFailed;
}

CaptureFile::~CaptureFile() {
    close(false);
}

int CaptureFile::create(const std::string& path) {
    close(false);
    // O_EXCL: a file, link or FIFO already under the name (another user's,
    // in a shared folder) is left alone and the name refused.
    fd_ = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd_ < 0) return errno;
    path_ = path;
    size_ = 0;
    return 0;
}

int createRingFile(CaptureFile& file, const std::string& base, uint32_t number, std::time_t start) {
    int error = EEXIST;
    for (uint32_t copy = 1; copy <= kMaxCopies && error == EEXIST; ++copy)
        error = file.create(ringFileName(base, number, start, copy));
    return error;
}

int CaptureFile::append(const uint8_t* data, size_t length) {
    size_t done = 0;
    while (done < length) {
        const ssize_t n = ::write(fd_, data + done, length - done);
        if (n > 0) {
            done += static_cast<size_t>(n);
            continue;
        }
        if (n < 0 && errno == EINTR) continue;
        const int error = n < 0 ? errno : ENOSPC;
        // Undo the partial write so the file ends with a whole block.
        if (ftruncate(fd_, static_cast<off_t>(size_)) == 0)
            lseek(fd_, static_cast<off_t>(size_), SEEK_SET);
        return error;
    }
    size_ += length;
    return 0;
}

int CaptureFile::close(bool sync) {
    if (fd_ < 0) return 0;
    int error = 0;
    if (sync && fsync(fd_) != 0) error = errno;
    if (::close(fd_) != 0 && error == 0) error = errno;
    fd_ = -1;
    return error;
}

std::string FileRing::add(const std::string& path) {
    files_.push_back(path);
    if (keep_ == 0 || files_.size() <= keep_) return "";
    std::string oldest = std::move(files_.front());
    files_.pop_front();
    return oldest;
}

}  // namespace nettlebeam::traffic
