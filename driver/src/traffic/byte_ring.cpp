#include "byte_ring.h"

#include <sys/mman.h>
#include <unistd.h>

#include <cerrno>
#include <system_error>

namespace nettlebeam::traffic {
namespace {

[[noreturn]] void failWith(const char* what) {
    throw std::system_error(errno, std::generic_category(), what);
}

}  // namespace

ByteRing::ByteRing(size_t capacity) {
    const size_t page = static_cast<size_t>(sysconf(_SC_PAGESIZE));
    capacity_ = std::max(page, (capacity + page - 1) / page * page);
    const int fd = memfd_create("nettlebeam-ring", MFD_CLOEXEC);
    if (fd < 0) failWith("memfd_create");
    if (ftruncate(fd, static_cast<off_t>(capacity_)) != 0) {
        close(fd);
        failWith("ftruncate");
    }
    // Reserve twice the size, then map the same pages into both halves.
    void* area = mmap(nullptr, 2 * capacity_, PROT_NONE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (area == MAP_FAILED) {
        close(fd);
        failWith("mmap");
    }
    auto* base = static_cast<uint8_t*>(area);
    // The pages are populated now: a fault per page in the middle of a
    // capture costs more than the memory the cache is allowed anyway.
    for (uint8_t* half : {base, base + capacity_}) {
        if (mmap(half, capacity_, PROT_READ | PROT_WRITE, MAP_SHARED | MAP_FIXED | MAP_POPULATE, fd,
                 0) == MAP_FAILED) {
            munmap(area, 2 * capacity_);
            close(fd);
            failWith("mmap");
        }
    }
    close(fd);
    base_ = base;
}

ByteRing::~ByteRing() {
    munmap(base_, 2 * capacity_);
}

}  // namespace nettlebeam::traffic
