// Records of a classic pcap file, read in large blocks.
//
// libpcap reads a file record by record through stdio: two buffered reads
// and a copy per record, which is what bounds a replay "as fast as
// possible". Classic pcap is a 24-byte header and 16-byte record headers, so
// its records are taken here straight out of a read buffer, filled 256 KiB
// at a time so that what was read is still in the processor's cache when
// its frames are used. libpcap
// stays the reader of every other format (pcapng, the modified pcap
// variants), and the file is always checked with libpcap at attach; this
// reader applies the same limits (a record above libpcap's largest snap
// length or cut short is damage), and also never trusts the file to still be
// what was checked.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

namespace nettlebeam::traffic {

struct CaptureRecord {
    uint64_t timestampNs = 0;
    uint32_t capturedLength = 0;
    uint32_t originalLength = 0;
    const uint8_t* data = nullptr;  // valid until the next call of next()
};

class PcapRecords {
  public:
    // libpcap's largest snap length: a longer record is damage.
    static constexpr uint32_t kLargestRecord = 262144;
    static constexpr size_t kBlockSize = 256u << 10;

    // The reader, or null when the file cannot be opened or is not classic
    // pcap of version 2.4 (either byte order, microsecond or nanosecond
    // timestamps); older versions have quirks that libpcap knows.
    static std::unique_ptr<PcapRecords> open(const std::string& path);
    ~PcapRecords();
    PcapRecords(const PcapRecords&) = delete;
    PcapRecords& operator=(const PcapRecords&) = delete;

    uint32_t linkType() const { return linkType_; }
    // Back to the first record, for a replay that loops.
    void rewind();

    enum class Next { Record, End, Damaged };
    Next next(CaptureRecord& record) {
        // A whole record already in the buffer is taken without a call.
        if (end_ - begin_ >= kRecordHeader) {
            const uint8_t* header = buffer_.data() + begin_;
            const uint32_t captured = word(header + 8);
            if (captured <= kLargestRecord && end_ - begin_ >= kRecordHeader + captured) {
                take(header, record);
                return Next::Record;
            }
        }
        return nextAfterReading(record);
    }

  private:
    PcapRecords(int fd, bool swapped, bool nanoseconds, uint32_t linkType, uint32_t snapLength,
                size_t bufferSize);
    static constexpr size_t kRecordHeader = 16;
    uint32_t word(const uint8_t* p) const {
        uint32_t v;
        std::memcpy(&v, p, 4);
        return swapped_ ? __builtin_bswap32(v) : v;
    }
    // The record whose header is at the read position, which is whole in the buffer.
    void take(const uint8_t* header, CaptureRecord& record) {
        const uint32_t fraction = word(header + 4);
        const uint32_t captured = word(header + 8);
        record.timestampNs = static_cast<uint64_t>(word(header)) * 1'000'000'000ull +
                             (nanoseconds_ ? fraction : static_cast<uint64_t>(fraction) * 1000);
        record.capturedLength = std::min(captured, snapLength_);
        record.originalLength = word(header + 12);
        record.data = header + kRecordHeader;
        begin_ += kRecordHeader + captured;
    }
    Next nextAfterReading(CaptureRecord& record);
    // Makes `length` bytes from the read position available; false at the
    // end of the file (or on a read error) when fewer remain.
    bool fill(size_t length);

    int fd_;
    bool swapped_;
    bool nanoseconds_;
    uint32_t linkType_;
    uint32_t snapLength_;  // longer records are cut to it, as libpcap does
    std::vector<uint8_t> buffer_;
    size_t begin_ = 0;  // read position in buffer_
    size_t end_ = 0;    // bytes of buffer_ holding file data
    bool atEof_ = false;
};

}  // namespace nettlebeam::traffic
