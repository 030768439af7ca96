#include "traffic_engine.h"

#include <poll.h>
#include <pthread.h>
#include <sys/eventfd.h>
#include <unistd.h>
#include <zlib.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <climits>
#include <ctime>
#include <system_error>

#include "byte_order.h"
#include "classify.h"

namespace nettlebeam::traffic {
namespace {

constexpr size_t kBatch = 512;
constexpr size_t kLongestCapture = 65535;
constexpr uint64_t kLongestSleepNs = 50'000'000;
// Paced frames are taken in batches at most this often: each frame keeps its
// own due time as timestamp, so waking per frame would only cost CPU.
constexpr uint64_t kTickNs = 25'000'000;

}  // namespace

uint64_t steadyWallClockNs() {
    // Wall time at the first call, advanced by the monotonic clock, so
    // pacing is immune to clock steps while timestamps stay in Unix time.
    static const int64_t offset = [] {
        timespec wall{}, mono{};
        clock_gettime(CLOCK_REALTIME, &wall);
        clock_gettime(CLOCK_MONOTONIC, &mono);
        return (static_cast<int64_t>(wall.tv_sec) - mono.tv_sec) * 1'000'000'000ll +
               (wall.tv_nsec - mono.tv_nsec);
    }();
    timespec mono{};
    clock_gettime(CLOCK_MONOTONIC, &mono);
    return static_cast<uint64_t>(static_cast<int64_t>(mono.tv_sec) * 1'000'000'000ll +
                                 mono.tv_nsec + offset);
}

TrafficEngine::TrafficEngine(std::unique_ptr<FrameSource> source) : source_(std::move(source)) {
    if (source_) sourceFd_ = source_->wakeDescriptor();
    if (sourceFd_ < 0) return;
    // A condition variable cannot interrupt poll(): the stop is also signalled
    // on a descriptor the engine polls beside the source's.
    stopFd_ = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (stopFd_ < 0) throw std::system_error(errno, std::generic_category(), "eventfd");
}

TrafficEngine::~TrafficEngine() {
    stop();
    direct_.stop();
    memory_.stop();
    if (stopFd_ >= 0) close(stopFd_);
}

void TrafficEngine::start() {
    if (thread_.joinable()) return;
    stopRequested_ = false;
    if (stopFd_ >= 0) {
        uint64_t drained;
        while (read(stopFd_, &drained, sizeof drained) > 0) {
        }
    }
    thread_ = std::thread([this] {
        pthread_setname_np(pthread_self(), "nb-traffic");
        run();
    });
}

void TrafficEngine::stop() {
    {
        std::lock_guard lock(wakeMutex_);
        stopRequested_ = true;
    }
    wake_.notify_all();
    if (stopFd_ >= 0) {
        const uint64_t one = 1;
        while (write(stopFd_, &one, sizeof one) < 0 && errno == EINTR) {
        }
    }
    if (thread_.joinable()) thread_.join();
}

void TrafficEngine::setPortLink(Port port, bool up, const PortLine& line) {
    linkUp_[static_cast<size_t>(port)] = up;
    if (!up) return;  // the line is what the next link negotiates
    std::lock_guard lock(lineMutex_);
    if (lines_[static_cast<size_t>(port)] == line) return;
    lines_[static_cast<size_t>(port)] = line;
    lineGeneration_.fetch_add(1);
}

void TrafficEngine::setFeatures(const CaptureFeatures& features) {
    std::lock_guard lock(configMutex_);
    shared_.features = features;
    configGeneration_.fetch_add(1);
}

void TrafficEngine::setFilters(const FilterSet& filters) {
    std::lock_guard lock(configMutex_);
    shared_.filters = filters;
    configGeneration_.fetch_add(1);
}

CaptureFeatures TrafficEngine::features() const {
    std::lock_guard lock(configMutex_);
    return shared_.features;
}

uint32_t TrafficEngine::snapLength(bool fullFrames) const {
    const CaptureFeatures f = features();
    if (f.slicing && f.slicingLength > 0 && !fullFrames) return f.slicingLength;
    return 65535;
}

void TrafficEngine::refreshConfig() {
    const uint64_t generation = configGeneration_.load(std::memory_order_relaxed);
    if (generation == activeGeneration_) return;
    std::lock_guard lock(configMutex_);
    active_ = shared_;
    filtering_ = active_.filters.anyActive();
    activeGeneration_ = configGeneration_.load();
}

void TrafficEngine::deliver(const Frame& frame, Delivery& delivery) {
    // It arrived before any capture ran, which would have asked for it whole.
    if (frame.headersOnly) return;
    const CaptureFeatures& f = active_.features;
    std::span<const uint8_t> data = frame.bytes;
    std::span<const uint8_t> extra;
    if (f.keepCrc32) {
        uint32_t fcs = frame.fcs;
        if (!frame.hasFcs)
            fcs = static_cast<uint32_t>(crc32(0L, data.data(), static_cast<uInt>(data.size())));
        wire::writeLe32(fcsBytes_, 0, fcs);
        extra = fcsBytes_;
    }
    const uint32_t original = static_cast<uint32_t>(data.size() + extra.size());
    const uint64_t timestamp = f.timestamps ? frame.timestampNs : frame.timestampNs / 1000 * 1000;
    auto cut = [&](size_t limit, std::span<const uint8_t>& d, std::span<const uint8_t>& e) {
        if (d.size() >= limit) {
            d = d.first(limit);
            e = {};
        } else if (d.size() + e.size() > limit) {
            e = e.first(limit - d.size());
        }
    };
    const bool sliced = f.slicing && f.slicingLength > 0;
    // The files declare 65535 bytes as their longest frame (a replayed
    // record may be longer).
    cut(kLongestCapture, data, extra);
    bool lost = false;
    if (directAccepting_) {
        auto d = data, e = extra;
        if (sliced && !direct_.fullFrames()) cut(f.slicingLength, d, e);
        lost |= !direct_.offer(frame.port, timestamp, d, e, original);
    }
    if (memory_.accepting()) {
        auto d = data, e = extra;
        if (sliced) cut(f.slicingLength, d, e);
        lost |= !memory_.offer(frame.port, timestamp, d, e, original);
    }
    if (lost) {
        delivery = Delivery::DroppedByHost;
        bump(hostDropped_);
    }
}

Delivery TrafficEngine::route(const Frame& frame, bool passesFilters) {
    const CaptureFeatures& f = active_.features;
    Delivery delivery = Delivery::Delivered;
    const bool portDisabled = frame.port == Port::A ? f.disablePortA : f.disablePortB;
    if (portDisabled || !passesFilters) {
        delivery = Delivery::Filtered;
    } else if (!frame.crcValid() && !f.keepCrcErrors) {
        delivery = Delivery::DroppedByDevice;
    }
    if (delivery == Delivery::Delivered) {
        deliver(frame, delivery);
    } else if (directAccepting_) {
        direct_.account(frame.port, delivery);
    }
    ports_[static_cast<size_t>(frame.port)].count(frame, delivery);
    return delivery;
}

void TrafficEngine::process(const Frame& frame) {
    // Parse only when a filter or a counter will look at the result.
    if (filtering_ || counters_.anyActive()) {
        const FrameInfo info = classify(frame);
        const Delivery delivery = route(frame, active_.filters.passes(frame, info));
        counters_.count(frame, info, delivery);
    } else {
        route(frame, true);
    }
    bump(framesSeen_);
}

void TrafficEngine::feed(const Frame& frame) {
    refreshConfig();
    auto directLock = direct_.lockForFrames();
    auto memoryLock = memory_.lockForFrames();
    directAccepting_ = direct_.accepting();
    process(frame);
}

void TrafficEngine::run() {
    // The traffic starts once a link is up, so a replay is not lost to link
    // negotiation; later link losses lose frames as they would on the wire.
    while (!stopRequested_.load() && !linkUp_[0].load() && !linkUp_[1].load()) {
        std::unique_lock lock(wakeMutex_);
        wake_.wait_for(lock, std::chrono::milliseconds(5),
                       [this] { return stopRequested_.load(); });
    }
    source_->begin(steadyWallClockNs());
    while (!stopRequested_.load(std::memory_order_relaxed)) {
        refreshConfig();
        if (lineGeneration_.load(std::memory_order_relaxed) != sourceLineGeneration_) {
            std::lock_guard lock(lineMutex_);
            sourceLineGeneration_ = lineGeneration_.load();
            for (size_t p = 0; p < 2; ++p) source_->setLine(static_cast<Port>(p), lines_[p]);
        }
        const uint64_t now = steadyWallClockNs();
        size_t done = 0;
        {
            auto directLock = direct_.lockForFrames();
            auto memoryLock = memory_.lockForFrames();
            directAccepting_ = direct_.accepting();
            for (; done < kBatch; ++done) {
                const Frame* frame = source_->next(now);
                if (frame == nullptr) break;
                if (linkUp_[static_cast<size_t>(frame->port)].load(std::memory_order_relaxed))
                    process(*frame);
            }
        }
        if (sourceFd_ >= 0) countLost();
        if (done == kBatch) continue;
        const uint64_t due = source_->nextDueNs();
        if (due == UINT64_MAX) exhausted_ = true;
        if (due != UINT64_MAX && due <= now) continue;
        if (sourceFd_ >= 0 && due != UINT64_MAX) {
            waitReadable(now, due);
            continue;
        }
        const uint64_t wait =
            due == UINT64_MAX ? kLongestSleepNs : std::clamp(due - now, kTickNs, kLongestSleepNs);
        std::unique_lock lock(wakeMutex_);
        wake_.wait_for(lock, std::chrono::nanoseconds(wait),
                       [this] { return stopRequested_.load(); });
    }
}

void TrafficEngine::countLost() {
    const std::array<uint64_t, 2> lost = source_->takeLost();
    for (size_t p = 0; p < 2; ++p) {
        if (lost[p] == 0) continue;
        hostDropped_.fetch_add(lost[p], std::memory_order_relaxed);
        auto directLock = direct_.lockForFrames();
        if (direct_.accepting()) direct_.accountLost(static_cast<Port>(p), lost[p]);
    }
}

void TrafficEngine::waitReadable(uint64_t nowNs, uint64_t dueNs) {
    if (stopRequested_.load()) return;
    pollfd fds[2] = {{sourceFd_, POLLIN, 0}, {stopFd_, POLLIN, 0}};
    // Rounded up: waking before the due time would find nothing to take.
    const uint64_t waitNs = dueNs - nowNs;
    const uint64_t ms = waitNs / 1'000'000 + (waitNs % 1'000'000 != 0 ? 1 : 0);
    const int timeout = ms > INT_MAX ? -1 : static_cast<int>(ms);
    // An interrupted or failed poll only means one more look at the source.
    poll(fds, 2, timeout);
}

}  // namespace nettlebeam::traffic
