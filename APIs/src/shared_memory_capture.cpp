#include "shared_memory_capture.h"

#include <chrono>
#include <map>
#include <memory>
#include <mutex>

#include "NettlebeamAPI.h"
#include "capture_ring.h"
#include "control_path.h"
#include "driver_channel.h"

namespace nettlebeam::api {

namespace {

using Clock = std::chrono::steady_clock;
using wire::ring::SharedCaptureRing;

// After the driver refused to share a device's capture, reads go to the
// driver for this long before it is asked again (or until a start or stop
// through the library): a driver that never shares costs one request per
// read, not two.
constexpr auto kAskAgainAfter = std::chrono::seconds(1);

struct Entry {
    std::shared_ptr<SharedCaptureRing> ring;
    Clock::time_point refusedUntil{};
};

class Rings {
  public:
    static Rings& instance() {
        // Never destroyed: the monitor thread may drop a device's mapping
        // while static objects are being destroyed at exit.
        static Rings* rings = new Rings;
        return *rings;
    }

    // The device's mapping, asking the driver for one when there is none.
    std::shared_ptr<SharedCaptureRing> acquire(int32_t handle) {
        {
            std::lock_guard guard(lock_);
            auto found = entries_.find(handle);
            if (found != entries_.end()) {
                if (found->second.ring) return found->second.ring;
                if (Clock::now() < found->second.refusedUntil) return nullptr;
            }
        }
        // Asked without the lock: other devices' readers go on meanwhile.
        std::shared_ptr<SharedCaptureRing> ring =
            SharedCaptureRing::open(wire::controlPath(), handle);
        std::lock_guard guard(lock_);
        Entry& entry = entries_[handle];
        if (!ring) {
            entry.refusedUntil = Clock::now() + kAskAgainAfter;
            return nullptr;
        }
        // Two threads may have asked at once; either mapping serves.
        if (!entry.ring) entry.ring = ring;
        return entry.ring;
    }

    // Drops `ring` if it is still the device's mapping; readers holding it
    // finish with their copy of the pointer. `distrust`: reads go to the
    // driver for a while, as after a refusal.
    void drop(int32_t handle, const std::shared_ptr<SharedCaptureRing>& ring, bool distrust) {
        std::lock_guard guard(lock_);
        auto found = entries_.find(handle);
        if (found == entries_.end() || found->second.ring != ring) return;
        found->second.ring.reset();
        found->second.refusedUntil = distrust ? Clock::now() + kAskAgainAfter : Clock::time_point{};
    }

    void forget(int32_t handle) {
        std::lock_guard guard(lock_);
        entries_.erase(handle);
    }

    void forgetAll() {
        std::map<int32_t, Entry> gone;
        std::lock_guard guard(lock_);
        gone.swap(entries_);
    }

  private:
    std::mutex lock_;
    std::map<int32_t, Entry> entries_;
};

}  // namespace

std::optional<int32_t> readSharedMemoryCapture(int32_t handle, void* buffer, int32_t* size) {
    Rings& rings = Rings::instance();
    // A closed ring means the capture stopped or restarted: ask once for the
    // ring of the capture running now.
    for (int round = 0; round < 2; ++round) {
        std::shared_ptr<SharedCaptureRing> ring = rings.acquire(handle);
        if (!ring) return std::nullopt;
        size_t bytes = 0;
        switch (ring->read(static_cast<uint8_t*>(buffer), static_cast<size_t>(*size), bytes)) {
            case SharedCaptureRing::Outcome::Read:
                *size = static_cast<int32_t>(bytes);
                return NETTLEBEAM_STATUS_SUCCESS;
            case SharedCaptureRing::Outcome::Corrupt:
                // As a malformed reply to the data request would be. The next
                // reads go to the driver, whose own read finds the fault and
                // stops sharing the capture, so the reader is not stuck.
                rings.drop(handle, ring, true);
                *size = kTransportDriverFailed;
                return NETTLEBEAM_STATUS_FAILED;
            case SharedCaptureRing::Outcome::Closed:
                rings.drop(handle, ring, false);
                break;
        }
    }
    return std::nullopt;
}

void forgetSharedMemoryCapture(int32_t handle) {
    Rings::instance().forget(handle);
}

void forgetAllSharedMemoryCaptures() {
    Rings::instance().forgetAll();
}

}  // namespace nettlebeam::api
