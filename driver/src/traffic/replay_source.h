// Replays a capture file (pcap or pcapng) at the file's own pace, at a
// multiple of it, or as fast as possible, optionally looping, on port A,
// port B, or split by direction: frames sent from the first frame's source
// MAC address arrive on port A and all others on port B, as a TAP sees the
// two directions of a link. The file's frames carry no FCS, so each counts
// four bytes longer on the wire than in the file. Frames replayed at the
// file's pace keep their spacing, anchored at the time the replay starts;
// frames replayed as fast as possible are stamped with the time they are sent.
//
// libpcap checks the file at attach and reads every format; classic pcap is
// then read in large blocks by PcapRecords, which is several times cheaper
// per frame.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "frame_source.h"
#include "pcap_records.h"

typedef struct pcap pcap_t;

namespace nettlebeam::traffic {

enum class ReplayPorts { A, B, Split };

struct ReplaySettings {
    std::string path;
    double speed = 1;  // multiple of the file's pace
    bool asFastAsPossible = false;
    bool loop = false;
    ReplayPorts ports = ReplayPorts::A;
};

// "--replay-speed" values: a positive multiple, or "max".
ReplaySettings parseReplaySpeed(ReplaySettings settings, const std::string& text);
// "--replay-ports" values: "A", "B" or "split"; empty when it is none of them.
std::optional<ReplayPorts> parseReplayPorts(const std::string& text);

class ReplaySource : public FrameSource {
  public:
    // Reads the whole file once to check it: throws std::runtime_error with
    // a message naming the file when it is missing, unreadable, not a
    // capture, truncated, not Ethernet or without frames.
    explicit ReplaySource(const ReplaySettings& settings);
    ~ReplaySource() override;
    ReplaySource(const ReplaySource&) = delete;
    ReplaySource& operator=(const ReplaySource&) = delete;

    const Frame* next(uint64_t nowNs) override;
    uint64_t nextDueNs() override;
    void begin(uint64_t nowNs) override;
    uint64_t framesInFile() const { return framesInFile_; }

  private:
    void reopen();
    bool fetch();        // reads the next frame into pending_; false at the end
    bool havePending();  // fetches when needed; false at the end
    uint64_t dueOfPending() const;
    bool read(CaptureRecord& record);
    Port portOf(const CaptureRecord& record);

    ReplaySettings settings_;
    std::unique_ptr<PcapRecords> records_;  // classic pcap
    pcap_t* pcap_ = nullptr;                // any other format
    bool damaged_ = false;                  // the file changed since it was checked
    std::array<uint8_t, 6> sideA_{};        // split: the first frame's source
    bool sideKnown_ = false;
    uint64_t framesInFile_ = 0;
    uint64_t fileSpanNs_ = 0;  // first to last timestamp
    uint64_t firstNs_ = 0;
    bool firstSeen_ = false;
    uint64_t startNs_ = 0;
    uint64_t loopOffsetNs_ = 0;
    uint64_t lastSentNs_ = 0;
    bool pendingValid_ = false;
    bool ended_ = false;
    uint64_t pendingFileNs_ = 0;
    Frame pending_;
};

}  // namespace nettlebeam::traffic
