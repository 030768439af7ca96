#include "replay_source.h"

#include <pcap/pcap.h>
#include <stdio_ext.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <stdexcept>

namespace nettlebeam::traffic {
namespace {

[[noreturn]] void refuse(const std::string& path, const std::string& why) {
    throw std::runtime_error("replay file " + path + ": " + why);
}

pcap_t* openFile(const std::string& path) {
    // Our own stream with a large buffer: libpcap reads record by record,
    // and a read system call every few frames would dominate a fast replay.
    FILE* file = std::fopen(path.c_str(), "rb");
    if (file == nullptr) refuse(path, std::strerror(errno));
    std::setvbuf(file, nullptr, _IOFBF, 1 << 20);
    // Only the thread that owns the source reads the stream: libpcap's two
    // reads per record need not take the stream's lock.
    __fsetlocking(file, FSETLOCKING_BYCALLER);
    char error[PCAP_ERRBUF_SIZE] = {};
    pcap_t* pcap =
        pcap_fopen_offline_with_tstamp_precision(file, PCAP_TSTAMP_PRECISION_NANO, error);
    if (pcap == nullptr) {
        std::fclose(file);
        refuse(path, error[0] ? error : "cannot be opened as a capture file");
    }
    return pcap;  // pcap_close closes the stream
}

uint64_t timestampNs(const pcap_pkthdr* header) {
    return static_cast<uint64_t>(header->ts.tv_sec) * 1'000'000'000ull +
           static_cast<uint64_t>(header->ts.tv_usec);  // nanoseconds with nano precision
}

// A record's original length comes from the file: one below its captured
// length, or so large that adding the lost FCS wraps, must not shrink the
// frame on the wire.
uint32_t wireLengthOf(const CaptureRecord& record) {
    const uint64_t original = std::max(record.originalLength, record.capturedLength);
    return static_cast<uint32_t>(std::min<uint64_t>(original + 4, UINT32_MAX));
}

// The gap between the last frame of a pass and the first of the next.
constexpr uint64_t kLoopGapNs = 1'000'000;
// Due times from here on mean "never" (UINT64_MAX itself means "no more frames").
constexpr double kNeverNs = 1.8e19;

uint64_t saturatingAdd(uint64_t a, uint64_t b) {
    return a > UINT64_MAX - b ? UINT64_MAX : a + b;
}

}  // namespace

std::optional<ReplayPorts> parseReplayPorts(const std::string& text) {
    if (text == "A") return ReplayPorts::A;
    if (text == "B") return ReplayPorts::B;
    if (text == "split") return ReplayPorts::Split;
    return std::nullopt;
}

ReplaySettings parseReplaySpeed(ReplaySettings settings, const std::string& text) {
    if (text == "max") {
        settings.asFastAsPossible = true;
        return settings;
    }
    double speed = 0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), speed);
    if (ec != std::errc() || end != text.data() + text.size() || !(speed > 0) ||
        !std::isfinite(speed))
        throw std::invalid_argument("--replay-speed: \"" + text +
                                    "\" is not a positive number or max");
    settings.speed = speed;
    settings.asFastAsPossible = false;
    return settings;
}

ReplaySource::ReplaySource(const ReplaySettings& settings) : settings_(settings) {
    pcap_t* check = openFile(settings.path);
    const int linkType = pcap_datalink(check);
    if (linkType != DLT_EN10MB) {
        pcap_close(check);
        refuse(settings.path,
               "holds no Ethernet frames (link type " + std::to_string(linkType) + ")");
    }
    pcap_pkthdr* header = nullptr;
    const u_char* data = nullptr;
    int result = 0;
    uint64_t first = 0, last = 0;
    while ((result = pcap_next_ex(check, &header, &data)) == 1) {
        const uint64_t ts = timestampNs(header);
        if (framesInFile_ == 0) first = ts;
        last = std::max(last, ts);
        ++framesInFile_;
    }
    std::string error = result == PCAP_ERROR ? pcap_geterr(check) : "";
    pcap_close(check);
    if (result == PCAP_ERROR) refuse(settings.path, "damaged or truncated: " + error);
    if (framesInFile_ == 0) refuse(settings.path, "holds no frames");
    fileSpanNs_ = last >= first ? last - first : 0;
    reopen();
}

ReplaySource::~ReplaySource() {
    if (pcap_ != nullptr) pcap_close(pcap_);
}

void ReplaySource::reopen() {
    firstSeen_ = false;
    if (records_ != nullptr) return records_->rewind();
    if (pcap_ != nullptr) pcap_close(pcap_);
    pcap_ = nullptr;
    records_ = PcapRecords::open(settings_.path);
    if (records_ != nullptr && records_->linkType() != DLT_EN10MB) records_.reset();
    // Whatever the file has become since it was checked, a replay that
    // cannot read it ends; it never stops the daemon.
    if (records_ == nullptr) {
        try {
            pcap_ = openFile(settings_.path);
        } catch (const std::runtime_error&) {
            damaged_ = true;
        }
    }
}

inline bool ReplaySource::read(CaptureRecord& record) {
    if (damaged_) return false;
    if (records_ != nullptr) {
        const PcapRecords::Next next = records_->next(record);
        damaged_ = next == PcapRecords::Next::Damaged;
        return next == PcapRecords::Next::Record;
    }
    pcap_pkthdr* header = nullptr;
    const u_char* data = nullptr;
    const int result = pcap_next_ex(pcap_, &header, &data);
    damaged_ = result == PCAP_ERROR;
    if (result != 1) return false;
    record = {timestampNs(header), header->caplen, header->len, data};
    return true;
}

inline Port ReplaySource::portOf(const CaptureRecord& record) {
    if (settings_.ports != ReplayPorts::Split)
        return settings_.ports == ReplayPorts::A ? Port::A : Port::B;
    if (record.capturedLength < 12) return Port::B;  // no source address to tell
    if (!sideKnown_) {
        std::memcpy(sideA_.data(), record.data + 6, 6);
        sideKnown_ = true;
    }
    return std::memcmp(sideA_.data(), record.data + 6, 6) == 0 ? Port::A : Port::B;
}

void ReplaySource::begin(uint64_t nowNs) {
    startNs_ = nowNs;
    lastSentNs_ = 0;
}

inline bool ReplaySource::fetch() {
    CaptureRecord record;
    bool got = read(record);
    if (!got && !damaged_ && settings_.loop) {
        loopOffsetNs_ = saturatingAdd(loopOffsetNs_, saturatingAdd(fileSpanNs_, kLoopGapNs));
        reopen();
        got = read(record);
    }
    if (!got) return false;
    const uint64_t ts = record.timestampNs;
    if (!firstSeen_) {
        firstSeen_ = true;
        firstNs_ = ts;
    }
    pendingFileNs_ = saturatingAdd(ts >= firstNs_ ? ts - firstNs_ : 0, loopOffsetNs_);
    pending_.bytes = {record.data, record.capturedLength};
    pending_.hasFcs = false;
    pending_.fcs = 0;
    pending_.wireLength = wireLengthOf(record);
    pending_.port = portOf(record);
    pending_.flags = 0;
    return true;
}

inline bool ReplaySource::havePending() {
    if (!pendingValid_ && !ended_) {
        pendingValid_ = fetch();
        ended_ = !pendingValid_;
    }
    return pendingValid_;
}

uint64_t ReplaySource::dueOfPending() const {
    // A file's timestamps may span centuries, and a slow replay stretches
    // them further: a frame due beyond the clock's range is due never.
    const double due =
        static_cast<double>(startNs_) + static_cast<double>(pendingFileNs_) / settings_.speed;
    return due < kNeverNs ? static_cast<uint64_t>(due) : static_cast<uint64_t>(kNeverNs);
}

uint64_t ReplaySource::nextDueNs() {
    if (!havePending()) return UINT64_MAX;
    return settings_.asFastAsPossible ? 0 : dueOfPending();
}

const Frame* ReplaySource::next(uint64_t nowNs) {
    if (!havePending()) return nullptr;
    uint64_t stamp;
    if (settings_.asFastAsPossible) {
        stamp = std::max(nowNs, lastSentNs_ + 1);
    } else {
        stamp = dueOfPending();
        if (stamp > nowNs) return nullptr;
    }
    pendingValid_ = false;
    pending_.timestampNs = stamp;
    lastSentNs_ = stamp;
    return &pending_;
}

}  // namespace nettlebeam::traffic
