#include "event_queues.h"

namespace nettlebeam::driver {

EventQueues::Queue& EventQueues::queueOf(const ProcessKey& process, Clock::time_point now) {
    Queue& queue = queues_[process];
    queue.lastAsked = now;
    return queue;
}

void EventQueues::touch(const ProcessKey& process, Clock::time_point now) {
    queueOf(process, now);
}

EventQueues::Take EventQueues::take(const ProcessKey& process, Clock::time_point now,
                                    Record& event) {
    Queue& queue = queueOf(process, now);
    if (queue.overflowed) {
        // Report the loss once; the queue keeps collecting from here so that
        // nothing posted after the process's next enumeration is lost.
        queue.overflowed = false;
        return Take::Overflowed;
    }
    if (queue.events.empty()) return Take::Empty;
    event = std::move(queue.events.front());
    queue.events.pop_front();
    return Take::Event;
}

void EventQueues::post(const Record& event) {
    for (auto& [process, queue] : queues_) {
        if (queue.overflowed) continue;
        if (queue.events.size() >= bound_) {
            queue.events.clear();
            queue.overflowed = true;
            continue;
        }
        queue.events.push_back(event);
    }
}

void EventQueues::park(const ProcessKey& process) {
    ++queues_[process].parked;
}

void EventQueues::unpark(const ProcessKey& process, Clock::time_point now) {
    auto found = queues_.find(process);
    if (found == queues_.end()) return;
    if (found->second.parked > 0) --found->second.parked;
    found->second.lastAsked = now;
}

size_t EventQueues::expire(Clock::time_point now,
                           const std::function<bool(const ProcessKey&)>& running) {
    size_t forgotten = 0;
    for (auto it = queues_.begin(); it != queues_.end();) {
        const bool idle = it->second.parked == 0;
        if (idle &&
            (now - it->second.lastAsked > forgetAfter_ || (running && !running(it->first)))) {
            it = queues_.erase(it);
            ++forgotten;
        } else {
            ++it;
        }
    }
    return forgotten;
}

size_t EventQueues::pending(const ProcessKey& process) const {
    auto found = queues_.find(process);
    return found == queues_.end() ? 0 : found->second.events.size();
}

}  // namespace nettlebeam::driver
