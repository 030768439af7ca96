// Link events of the "Log" page, decided from the link's up-time in
// successive records: an up-time smaller than the previous one means the
// link went down (and came back); otherwise the link is up. Only changes of
// the last seen state are reported, so "Link Down" and "Link Up" alternate.
#pragma once

#include <QString>
#include <cstdint>

class LinkTracker {
  public:
    enum class Event { None, Up, Down };
    struct Observation {
        // The statistics start over: the device's counters restarted with the link.
        bool upTimeWentBack = false;
        Event event = Event::None;
    };

    // `lastSeenUp` is the state shared by every tracker that uses it; by
    // default the one of the process, which outlives resets and device changes.
    explicit LinkTracker(bool& lastSeenUp = processState()) : lastSeenUp_(lastSeenUp) {}

    Observation observe(uint64_t upTime, uint64_t previousUpTime);
    // Another device: its first record reports its link afresh.
    void forget() { lastSeenUp_ = false; }

    // "<time> - Link Up" or "<time> - Link Down"; empty for no event.
    static QString text(Event event, const QString& time);
    // The process-wide last seen state; starts as down.
    static bool& processState();

  private:
    bool& lastSeenUp_;
};
