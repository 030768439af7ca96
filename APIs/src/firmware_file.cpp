#include "firmware_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <new>

namespace nettlebeam::api {

namespace {

constexpr size_t kReadChunkBytes = size_t{1} << 16;

class FileDescriptor {
  public:
    explicit FileDescriptor(int fd) : fd_(fd) {}
    ~FileDescriptor() {
        if (fd_ >= 0) close(fd_);
    }
    FileDescriptor(const FileDescriptor&) = delete;
    FileDescriptor& operator=(const FileDescriptor&) = delete;
    int get() const { return fd_; }

  private:
    int fd_;
};

// Reads to the end of the file. The size the file system gives is not
// trusted: files of /proc give 0, and a file may grow while it is read.
bool readToEnd(int fd, std::vector<uint8_t>& bytes) {
    for (;;) {
        size_t used = bytes.size();
        if (used > kMaxFirmwareFileBytes) return false;
        bytes.resize(used + kReadChunkBytes);
        ssize_t got = read(fd, bytes.data() + used, kReadChunkBytes);
        if (got < 0 && errno == EINTR) {
            bytes.resize(used);
            continue;
        }
        if (got < 0) return false;
        bytes.resize(used + static_cast<size_t>(got));
        if (got == 0) return true;
    }
}

}  // namespace

std::optional<std::vector<uint8_t>> readFirmwareFile(const std::string& path) {
    // Non-blocking: opening a FIFO must not wait for a writer.
    FileDescriptor file(open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK));
    if (file.get() < 0) return std::nullopt;
    struct stat status {};
    if (fstat(file.get(), &status) != 0 || !S_ISREG(status.st_mode)) return std::nullopt;
    if (status.st_size < 0 || static_cast<uint64_t>(status.st_size) > kMaxFirmwareFileBytes)
        return std::nullopt;
    try {
        std::vector<uint8_t> bytes;
        bytes.reserve(static_cast<size_t>(status.st_size) + kReadChunkBytes);
        if (!readToEnd(file.get(), bytes)) return std::nullopt;
        return bytes;
    } catch (const std::bad_alloc&) {
        return std::nullopt;
    }
}

}  // namespace nettlebeam::api
