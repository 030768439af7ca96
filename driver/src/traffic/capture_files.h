// Capture file naming and the set of files of one direct capture.
//
// Files are named like a ring buffer of capture files: the base name without
// its extension, "_", a five-digit file number counted from 00001, "_", the
// file's start time (local time, YYYYmmddHHMMSS), then the base name's
// extension ("/data/cap.pcapng" gives "/data/cap_00001_20261207101500.pcapng";
// a base name without extension gives names without one). A name that is
// taken already is never reused: the file gets "-2", "-3"... before the
// extension instead ("/data/cap_00001_20261207101500-2.pcapng").
#pragma once

#include <cstdint>
#include <ctime>
#include <deque>
#include <string>

namespace nettlebeam::traffic {

// `copy` 1 is the plain name; 2 and above add "-<copy>".
std::string ringFileName(const std::string& base, uint32_t number, std::time_t start,
                         uint32_t copy = 1);

// Driver error codes of a direct capture, as the status and the capture-state
// event report them.
enum CaptureError : uint32_t {
    kCaptureOk = 0,
    kCaptureCannotCreate = 1,  // a file cannot be created (missing folder, no permission, bad name)
    kCaptureWriteFailed = 2,   // writing or closing a file failed
    kCaptureDiskFull = 8,      // the file system is full (or the file size limit of the system)
    kCaptureCacheOverflow = 16,  // frames were dropped because the cache was full
};

// Maps errno of a failed write to the driver error code.
CaptureError writeErrorCode(int error);

// One open capture file: written with whole blocks; a failed write is rolled
// back to the last whole block so the file stays readable.
class CaptureFile {
  public:
    CaptureFile() = default;
    ~CaptureFile();
    CaptureFile(const CaptureFile&) = delete;
    CaptureFile& operator=(const CaptureFile&) = delete;

    // Creates a new file, mode 0600: never an existing name, never through a
    // symbolic link (so nothing planted under the name is truncated or
    // written). errno on failure (EEXIST when the name is taken), 0 on success.
    int create(const std::string& path);
    // Writes all of `data` or nothing (errno on failure, 0 on success).
    int append(const uint8_t* data, size_t length);
    // Closes the file; `sync` flushes it to the disk first. errno or 0.
    int close(bool sync);

    bool isOpen() const { return fd_ >= 0; }
    uint64_t size() const { return size_; }
    const std::string& path() const { return path_; }

  private:
    int fd_ = -1;
    uint64_t size_ = 0;
    std::string path_;
};

// Creates the capture file of `number` under the first free name
// (ringFileName with copy 1, 2, ...; at most kMaxCopies tries). errno or 0;
// file.path() is the name really written.
constexpr uint32_t kMaxCopies = 100;
int createRingFile(CaptureFile& file, const std::string& base, uint32_t number, std::time_t start);

// Which file numbers exist on disk, so a looping capture can delete the oldest.
class FileRing {
  public:
    // `keep` 0: keep everything.
    explicit FileRing(uint32_t keep) : keep_(keep) {}
    // Records a new file; returns the path that must now be deleted, or "".
    std::string add(const std::string& path);

  private:
    uint32_t keep_;
    std::deque<std::string> files_;
};

}  // namespace nettlebeam::traffic
