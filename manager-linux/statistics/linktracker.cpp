#include "linktracker.h"

LinkTracker::Observation LinkTracker::observe(uint64_t upTime, uint64_t previousUpTime) {
    Observation observation;
    if (upTime < previousUpTime) {
        observation.upTimeWentBack = true;
        if (lastSeenUp_) {
            lastSeenUp_ = false;
            observation.event = Event::Down;
        }
    } else if (!lastSeenUp_) {
        lastSeenUp_ = true;
        observation.event = Event::Up;
    }
    return observation;
}

QString LinkTracker::text(Event event, const QString& time) {
    switch (event) {
        case Event::Up:
            return time + QStringLiteral(" - Link Up");
        case Event::Down:
            return time + QStringLiteral(" - Link Down");
        case Event::None:
            break;
    }
    return {};
}

bool& LinkTracker::processState() {
    static bool lastSeenUp = false;
    return lastSeenUp;
}
