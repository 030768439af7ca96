// Failure bookkeeping shared by the soak's threads: every broken rule is
// printed once with its context and counted; the run fails if any was.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <string>

namespace nettlebeam::soak {

class Checks {
  public:
    void fail(const std::string& what) {
        if (failures_.fetch_add(1) < kPrinted)
            std::fprintf(stderr, "soak: FAILED: %s\n", what.c_str());
    }
    void expect(bool condition, const std::string& what) {
        if (!condition) fail(what);
    }
    uint64_t failures() const { return failures_.load(); }

  private:
    static constexpr uint64_t kPrinted = 20;
    std::atomic<uint64_t> failures_{0};
};

// Threads beat while they make progress; the watchdog aborts the process
// (with a core and a stack from the sanitizers) when one stops for too long.
class Heartbeat {
  public:
    void beat() { last_.store(now()); }
    int64_t silentMs() const { return now() - last_.load(); }

  private:
    static int64_t now() {
        using namespace std::chrono;
        return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
    }
    std::atomic<int64_t> last_{now()};
};

}  // namespace nettlebeam::soak
