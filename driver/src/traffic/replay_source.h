// Replays a capture file (pcap or pcapng, read with libpcap) on port A at
// the file's own pace, at a multiple of it, or as fast as possible,
// optionally looping. The file's frames carry no FCS, so each counts four
// bytes longer on the wire than in the file. Frames replayed at the file's
// pace keep their spacing, anchored at the time the replay starts; frames
// replayed as fast as possible are stamped with the time they are sent.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "frame_source.h"

typedef struct pcap pcap_t;

namespace nettlebeam::traffic {

struct ReplaySettings {
    std::string path;
    double speed = 1;  // multiple of the file's pace
    bool asFastAsPossible = false;
    bool loop = false;
};

// "--replay-speed" values: a positive multiple, or "max".
ReplaySettings parseReplaySpeed(ReplaySettings settings, const std::string& text);

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
    bool fetch();  // reads the next frame into pending_; false at the end

    ReplaySettings settings_;
    pcap_t* pcap_ = nullptr;
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
