#include "pcap_records.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace nettlebeam::traffic {
namespace {

constexpr size_t kFileHeader = 24;

uint32_t fileWord(const uint8_t* p, bool swapped) {
    uint32_t v;
    std::memcpy(&v, p, 4);
    return swapped ? __builtin_bswap32(v) : v;
}

}  // namespace

std::unique_ptr<PcapRecords> PcapRecords::open(const std::string& path) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return nullptr;
    uint8_t header[kFileHeader];
    size_t got = 0;
    while (got < sizeof header) {
        const ssize_t n = ::read(fd, header + got, sizeof header - got);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        got += static_cast<size_t>(n);
    }
    uint32_t magic;
    std::memcpy(&magic, header, 4);
    bool swapped = false, nanoseconds = false;
    switch (magic) {
        case 0xA1B2C3D4:
            break;
        case 0xD4C3B2A1:
            swapped = true;
            break;
        case 0xA1B23C4D:
            nanoseconds = true;
            break;
        case 0x4D3CB2A1:
            swapped = nanoseconds = true;
            break;
        default:
            got = 0;  // another format: libpcap's
    }
    auto half = [&](size_t at) {
        const uint16_t v = static_cast<uint16_t>(header[at] | header[at + 1] << 8);
        return swapped ? static_cast<uint16_t>(v >> 8 | v << 8) : v;
    };
    if (got != sizeof header || half(4) != 2 || half(6) != 4) {
        ::close(fd);
        return nullptr;
    }
    posix_fadvise(fd, 0, 0, POSIX_FADV_SEQUENTIAL);
    // A small file (a loop of a few frames) gets a small buffer.
    struct stat status {};
    const size_t largest = kBlockSize + kLargestRecord + kRecordHeader;
    const size_t bufferSize =
        fstat(fd, &status) == 0 && static_cast<uint64_t>(status.st_size) < largest
            ? static_cast<size_t>(status.st_size)
            : largest;
    // The link type shares its word with FCS flags in the high bits.
    const uint32_t linkType = fileWord(header + 20, swapped) & 0x03FFFFFF;
    uint32_t snapLength = fileWord(header + 16, swapped);
    if (snapLength == 0 || snapLength > kLargestRecord) snapLength = kLargestRecord;
    return std::unique_ptr<PcapRecords>(
        new PcapRecords(fd, swapped, nanoseconds, linkType, snapLength, bufferSize));
}

PcapRecords::PcapRecords(int fd, bool swapped, bool nanoseconds, uint32_t linkType,
                         uint32_t snapLength, size_t bufferSize)
    : fd_(fd),
      swapped_(swapped),
      nanoseconds_(nanoseconds),
      linkType_(linkType),
      snapLength_(snapLength),
      buffer_(bufferSize) {}

void PcapRecords::rewind() {
    begin_ = end_ = 0;
    atEof_ = lseek(fd_, kFileHeader, SEEK_SET) != static_cast<off_t>(kFileHeader);
}

PcapRecords::~PcapRecords() {
    ::close(fd_);
}

bool PcapRecords::fill(size_t length) {
    if (end_ - begin_ >= length) return true;
    // Move the partial record to the front, then read whole blocks after it.
    std::memmove(buffer_.data(), buffer_.data() + begin_, end_ - begin_);
    end_ -= begin_;
    begin_ = 0;
    // The file may have grown since it was opened.
    if (buffer_.size() < length) buffer_.resize(std::max(length, kBlockSize));
    while (end_ < length && !atEof_) {
        const size_t room = std::min(kBlockSize, buffer_.size() - end_);
        const ssize_t n = ::read(fd_, buffer_.data() + end_, room);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            atEof_ = true;  // a read error ends the file like its end does
            break;
        }
        end_ += static_cast<size_t>(n);
    }
    return end_ >= length;
}

PcapRecords::Next PcapRecords::nextAfterReading(CaptureRecord& record) {
    if (!fill(kRecordHeader)) return end_ == begin_ ? Next::End : Next::Damaged;
    const uint32_t captured = word(buffer_.data() + begin_ + 8);
    if (captured > kLargestRecord) return Next::Damaged;
    if (!fill(kRecordHeader + captured)) return Next::Damaged;
    take(buffer_.data() + begin_, record);  // fill may have moved the record
    return Next::Record;
}

}  // namespace nettlebeam::traffic
