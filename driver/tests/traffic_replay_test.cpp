// Replay files: the block reader of classic pcap yields exactly what libpcap
// yields for the same file, in every variant it takes on, and hands the
// others to libpcap; replayed frames go to the ports asked for.
#include <gtest/gtest.h>
#include <pcap/pcap.h>

#include <fstream>
#include <string>
#include <vector>

#include "traffic/pcap_records.h"
#include "traffic/replay_source.h"
#include "traffic_test_support.h"

namespace nettlebeam::traffic {
namespace {

using testing::TempFolder;

struct Record {
    uint32_t seconds, fraction, captured, original;
    std::vector<uint8_t> bytes;  // `captured` bytes unless a test cuts the file
};

// A classic pcap file built byte by byte, in either byte order.
class PcapBytes {
  public:
    PcapBytes(bool bigEndian, bool nanoseconds, uint32_t snapLength, uint16_t minor = 4)
        : big_(bigEndian) {
        put32(nanoseconds ? 0xA1B23C4D : 0xA1B2C3D4);
        put16(2);
        put16(minor);
        put32(0);
        put32(0);
        put32(snapLength);
        put32(DLT_EN10MB);
    }
    void add(const Record& r) {
        for (uint32_t v : {r.seconds, r.fraction, r.captured, r.original}) put32(v);
        bytes_.insert(bytes_.end(), r.bytes.begin(), r.bytes.end());
    }
    std::string write(const std::string& path, size_t cut = 0) const {
        std::ofstream(path, std::ios::binary)
            .write(reinterpret_cast<const char*>(bytes_.data()),
                   static_cast<std::streamsize>(bytes_.size() - cut));
        return path;
    }

  private:
    void put16(uint16_t v) {
        for (int i = 0; i < 2; ++i)
            bytes_.push_back(static_cast<uint8_t>(v >> (8 * (big_ ? 1 - i : i))));
    }
    void put32(uint32_t v) {
        for (int i = 0; i < 4; ++i)
            bytes_.push_back(static_cast<uint8_t>(v >> (8 * (big_ ? 3 - i : i))));
    }
    bool big_;
    std::vector<uint8_t> bytes_;
};

std::vector<uint8_t> frameFrom(uint8_t source, size_t length) {
    std::vector<uint8_t> f(length, 0);
    for (size_t i = 0; i < length; ++i) f[i] = static_cast<uint8_t>(i * 7 + source);
    for (size_t i = 6; i < 12 && i < length; ++i) f[i] = source;  // the source MAC
    return f;
}

struct Seen {
    uint64_t ns;
    uint32_t captured, original;
    std::vector<uint8_t> bytes;
    bool operator==(const Seen&) const = default;
};

std::vector<Seen> throughLibpcap(const std::string& path, bool& damaged) {
    char error[PCAP_ERRBUF_SIZE];
    pcap_t* p =
        pcap_open_offline_with_tstamp_precision(path.c_str(), PCAP_TSTAMP_PRECISION_NANO, error);
    std::vector<Seen> out;
    damaged = p == nullptr;
    if (p == nullptr) return out;
    pcap_pkthdr* h;
    const u_char* d;
    int r;
    while ((r = pcap_next_ex(p, &h, &d)) == 1)
        out.push_back({static_cast<uint64_t>(h->ts.tv_sec) * 1'000'000'000ull +
                           static_cast<uint64_t>(h->ts.tv_usec),
                       h->caplen, h->len, std::vector<uint8_t>(d, d + h->caplen)});
    damaged = r == PCAP_ERROR;
    pcap_close(p);
    return out;
}

std::vector<Seen> throughBlocks(const std::string& path, bool& damaged) {
    auto reader = PcapRecords::open(path);
    std::vector<Seen> out;
    damaged = false;
    if (!reader) return out;
    CaptureRecord r;
    PcapRecords::Next next;
    while ((next = reader->next(r)) == PcapRecords::Next::Record)
        out.push_back({r.timestampNs, r.capturedLength, r.originalLength,
                       std::vector<uint8_t>(r.data, r.data + r.capturedLength)});
    damaged = next == PcapRecords::Next::Damaged;
    return out;
}

TEST(PcapRecords, YieldsWhatLibpcapYieldsInEveryVariant) {
    TempFolder folder;
    int variant = 0;
    for (bool big : {false, true}) {
        for (bool nano : {false, true}) {
            // Snap length 100: libpcap cuts the 300-byte record to it.
            PcapBytes file(big, nano, 100);
            file.add({1'700'000'000, 999'999, 60, 60, frameFrom(1, 60)});
            file.add({1'700'000'001, 5, 300, 1514, frameFrom(2, 300)});
            file.add({1'700'000'002, 7, 0, 64, {}});
            // Records across the 4 MiB block boundary, one of them large.
            for (uint32_t i = 0; i < 70'000; ++i) {
                const uint32_t length = i % 1000 == 0 ? 100 : 64;
                file.add({1'700'000'003 + i, i, length, length, frameFrom(3, length)});
            }
            const std::string path =
                file.write(folder.path() + "/v" + std::to_string(variant++) + ".pcap");
            bool libpcapDamaged = false, blocksDamaged = false;
            const auto expected = throughLibpcap(path, libpcapDamaged);
            const auto got = throughBlocks(path, blocksDamaged);
            ASSERT_FALSE(libpcapDamaged);
            ASSERT_EQ(expected.size(), 70'003u);
            EXPECT_EQ(expected[1].captured, 100u);
            EXPECT_FALSE(blocksDamaged);
            EXPECT_TRUE(got == expected) << "big " << big << " nano " << nano;
        }
    }
}

TEST(PcapRecords, DamageIsSeenAndOtherFormatsAreLeftToLibpcap) {
    TempFolder folder;
    PcapBytes file(false, false, 65535);
    file.add({1, 0, 60, 60, frameFrom(1, 60)});
    file.add({2, 0, 60, 60, frameFrom(1, 60)});
    bool damaged = false;
    // Cut inside the last record, and inside its header.
    for (size_t cut : {10, 70}) {
        const std::string path = file.write(folder.path() + "/cut.pcap", cut);
        EXPECT_EQ(throughBlocks(path, damaged).size(), 1u);
        EXPECT_TRUE(damaged) << cut;
        throughLibpcap(path, damaged);
        EXPECT_TRUE(damaged) << "libpcap agrees, cut " << cut;
    }
    // A record beyond libpcap's largest snap length.
    PcapBytes huge(false, false, 0);
    huge.add({1, 0, PcapRecords::kLargestRecord + 1, 70000, frameFrom(1, 64)});
    EXPECT_TRUE(throughBlocks(huge.write(folder.path() + "/huge.pcap"), damaged).empty());
    EXPECT_TRUE(damaged);
    // Version 2.3 files have swapped length quirks; pcapng is another format.
    PcapBytes old(false, false, 65535, 3);
    old.add({1, 0, 60, 60, frameFrom(1, 60)});
    EXPECT_EQ(PcapRecords::open(old.write(folder.path() + "/old.pcap")), nullptr);
    std::ofstream(folder.path() + "/ng.pcapng") << std::string("\x0A\x0D\x0D\x0A", 4);
    EXPECT_EQ(PcapRecords::open(folder.path() + "/ng.pcapng"), nullptr);
    EXPECT_EQ(PcapRecords::open(folder.path() + "/missing.pcap"), nullptr);
}

TEST(ReplaySource, PortsFollowTheChoiceOrTheDirection) {
    TempFolder folder;
    PcapBytes file(false, false, 65535);
    for (uint8_t source : {5, 9, 5, 7, 5}) file.add({1, 0, 60, 60, frameFrom(source, 60)});
    file.add({1, 0, 8, 60, frameFrom(5, 8)});  // too short to hold a source address
    const std::string path = file.write(folder.path() + "/two-sided.pcap");
    auto portsOf = [&](ReplayPorts choice) {
        ReplaySettings settings{path};
        settings.asFastAsPossible = true;
        settings.ports = choice;
        ReplaySource source(settings);
        source.begin(0);
        std::string ports;
        while (const Frame* f = source.next(1)) ports += f->port == Port::A ? 'A' : 'B';
        return ports;
    };
    EXPECT_EQ(portsOf(ReplayPorts::A), "AAAAAA");
    EXPECT_EQ(portsOf(ReplayPorts::B), "BBBBBB");
    EXPECT_EQ(portsOf(ReplayPorts::Split), "ABABAB");
    EXPECT_EQ(parseReplayPorts("split"), ReplayPorts::Split);
    EXPECT_EQ(parseReplayPorts("a"), std::nullopt);
}

TEST(ReplaySource, TimestampsBeyondTheClockAreDueNeverNotWrapped) {
    // 136 years between two frames, replayed at a thousandth of the pace and
    // looping: due times leave the clock's range (found by fuzzing; the
    // conversion was undefined and the loop offset wrapped).
    TempFolder folder;
    PcapBytes file(false, true, 65535);
    file.add({0, 0, 60, 60, frameFrom(1, 60)});
    file.add({0xFFFFFFFF, 999'999'999, 60, 60, frameFrom(1, 60)});
    ReplaySettings settings{file.write(folder.path() + "/ages.pcap")};
    settings.speed = 0.001;
    settings.loop = true;
    ReplaySource source(settings);
    source.begin(1'000);
    ASSERT_NE(source.next(1'000), nullptr);
    const uint64_t far = source.nextDueNs();
    EXPECT_GT(far, 1'000'000'000'000'000'000ull);
    EXPECT_LT(far, UINT64_MAX) << "far away, yet not the end of the replay";
    uint64_t previous = far;
    for (int i = 0; i < 4; ++i) {  // the loop offsets saturate instead of wrapping
        ASSERT_NE(source.next(UINT64_MAX - 1), nullptr);
        EXPECT_GE(source.nextDueNs(), previous);
        previous = source.nextDueNs();
    }
}

}  // namespace
}  // namespace nettlebeam::traffic
