// One queue of events per client process, so every process that waits for
// events sees each of them once, in order.
#pragma once

#include <chrono>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <optional>
#include <vector>

namespace nettlebeam::driver {

// A process: its id together with its start time, so a reused id is a new key.
struct ProcessKey {
    int32_t pid = 0;
    uint64_t startTime = 0;
    auto operator<=>(const ProcessKey&) const = default;
};

class EventQueues {
  public:
    using Clock = std::chrono::steady_clock;
    using Record = std::vector<uint8_t>;

    EventQueues(size_t bound, std::chrono::milliseconds forgetAfter)
        : bound_(bound), forgetAfter_(forgetAfter) {}

    // The process enumerated: from now on it collects events.
    void touch(const ProcessKey& process, Clock::time_point now);

    enum class Take { Event, Empty, Overflowed };
    // A wait of the process: the oldest event, nothing yet, or the news that
    // events were lost (the queue was dropped; the process must re-enumerate).
    Take take(const ProcessKey& process, Clock::time_point now, Record& event);

    // Appends the event to every queue; a queue that grows beyond the bound
    // is dropped and marked.
    void post(const Record& event);

    // Parked waits keep a process alive however long they last.
    void park(const ProcessKey& process);
    void unpark(const ProcessKey& process, Clock::time_point now);

    // Forgets the processes that neither asked within the time nor wait, and
    // (when `running` is given) those it reports gone: a short-lived client
    // would otherwise hold its queue, with every event posted meanwhile, for
    // the whole silence time. Returns how many were forgotten.
    size_t expire(Clock::time_point now,
                  const std::function<bool(const ProcessKey&)>& running = {});

    bool knows(const ProcessKey& process) const { return queues_.count(process) != 0; }
    size_t pending(const ProcessKey& process) const;

  private:
    struct Queue {
        std::deque<Record> events;
        bool overflowed = false;
        int parked = 0;
        Clock::time_point lastAsked;
    };
    Queue& queueOf(const ProcessKey& process, Clock::time_point now);

    size_t bound_;
    std::chrono::milliseconds forgetAfter_;
    std::map<ProcessKey, Queue> queues_;
};

}  // namespace nettlebeam::driver
