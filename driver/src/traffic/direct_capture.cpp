#include "direct_capture.h"

#include <pthread.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <utility>

#include "byte_order.h"
#include "pcapng.h"
#include "utf16_text.h"

namespace nettlebeam::traffic {
namespace {

constexpr size_t kSmallestCache = 64u << 10;  // room for several jumbo frames
constexpr auto kIdleWait = std::chrono::milliseconds(1);
// The longest packet block: the engine cuts frames to 65535 bytes.
constexpr size_t kLargestBlock = pcapng::enhancedPacketSize(65535);

uint64_t wallClockNs() {
    timespec ts{};
    clock_gettime(CLOCK_REALTIME, &ts);
    return static_cast<uint64_t>(ts.tv_sec) * 1'000'000'000ull + static_cast<uint64_t>(ts.tv_nsec);
}

uint32_t interfaceOf(const uint8_t* block) {
    uint32_t id;
    std::memcpy(&id, block + 8, 4);
    return id & 1;
}

}  // namespace

struct DirectCapture::Session {
    Session(const DirectCaptureSettings& s, uint32_t snapLength)
        : settings(s),
          cache(std::clamp<uint64_t>(s.maxCache, kSmallestCache, kMaxCache), kLargestBlock),
          header(pcapng::fileHeader(snapLength, "nettlebeamd")),
          fileRing(s.loop && s.fileCount > 0 ? static_cast<uint32_t>(s.fileCount) : 0) {}

    DirectCaptureSettings settings;
    ChunkCache cache;
    std::vector<uint8_t> header;
    CaptureFile file;
    FileRing fileRing;
    uint32_t fileNumber = 0;
    uint64_t filePackets = 0;
    std::chrono::steady_clock::time_point fileStarted;
    uint64_t startNs = wallClockNs();
    std::atomic<bool> accepting{true};
    std::atomic<bool> stopRequested{false};
    std::shared_ptr<std::atomic<bool>> closed = std::make_shared<std::atomic<bool>>(false);
    bool overflowReported = false;  // engine side
    std::thread writer;

    Session(const Session&) = delete;
    Session& operator=(const Session&) = delete;
};

DirectCapture::DirectCapture() = default;
DirectCapture::~DirectCapture() {
    stop();
}

void DirectCapture::postState(bool enabled, uint32_t error) {
    std::lock_guard lock(eventMutex_);
    events_.push_back({CaptureEvent::Kind::State, {}, enabled, error, false, {}, {}});
}

void DirectCapture::postEnd(uint32_t error) {
    CaptureEvent event{CaptureEvent::Kind::State, {}, false, error, true, {}, failure()};
    for (size_t port = 0; port < 2; ++port) {
        const CaptureTally& t = tally_[port];
        event.totals[port] = {t.received.load(), t.written.load(), t.dropped.load(),
                              t.filtered.load()};
    }
    std::lock_guard lock(eventMutex_);
    events_.push_back(std::move(event));
}

void DirectCapture::setError(uint32_t error) {
    // A file error outranks the cache-overflow warning; the first file error stays.
    const uint32_t current = error_.load();
    if (current == kCaptureOk || current == kCaptureCacheOverflow) error_.store(error);
}

void DirectCapture::setFailure(uint32_t error, const std::string& why) {
    setError(error);
    std::lock_guard lock(fileNameMutex_);
    if (failure_.empty()) failure_ = why;
}

std::string DirectCapture::failure() const {
    std::lock_guard lock(fileNameMutex_);
    return failure_;
}

std::vector<CaptureEvent> DirectCapture::takeEvents() {
    std::lock_guard lock(eventMutex_);
    return std::exchange(events_, {});
}

bool DirectCapture::start(const DirectCaptureSettings& settings, uint32_t snapLength) {
    std::lock_guard control(controlMutex_);
    {
        std::lock_guard lock(sessionMutex_);
        if (session_ && session_->accepting) return false;  // already running
    }
    if (stopping_ && !stopping_->closed->load()) return false;  // still closing its file
    if (stopping_ && stopping_->writer.joinable()) stopping_->writer.join();
    stopping_.reset();
    std::unique_ptr<Session> finished;
    {
        std::lock_guard lock(sessionMutex_);
        finished = std::move(session_);
    }
    if (finished && finished->writer.joinable()) finished->writer.join();
    finished.reset();

    for (CaptureTally& t : tally_)
        for (auto* v : {&t.received, &t.accepted, &t.written, &t.dropped, &t.filtered}) v->store(0);
    bytesWritten_ = 0;
    bytesDropped_ = 0;
    error_ = kCaptureOk;
    filesWritten_ = 0;
    {
        std::lock_guard lock(fileNameMutex_);
        currentFile_.clear();
        failure_.clear();
    }

    std::unique_ptr<Session> session;
    try {
        session = std::make_unique<Session>(settings, snapLength);
    } catch (const std::exception&) {
        setFailure(kCaptureCacheOverflow, "the cache cannot be allocated");
        postState(false, error_);
        return false;
    }
    cacheSize_ = session->cache.budget();
    enabled_ = true;
    postState(true, kCaptureOk);
    if (!openNextFile(*session)) {
        enabled_ = false;
        postState(false, error_);
        return false;
    }
    Session* raw = session.get();
    session->writer = std::thread([this, raw] {
        pthread_setname_np(pthread_self(), "nb-capture-file");
        writerLoop(*raw);
    });
    std::lock_guard lock(sessionMutex_);
    session_ = std::move(session);
    return true;
}

void DirectCapture::stop() {
    stopInBackground();
    std::lock_guard control(controlMutex_);
    if (stopping_ && stopping_->writer.joinable()) stopping_->writer.join();
    stopping_.reset();
}

std::shared_ptr<const std::atomic<bool>> DirectCapture::stopInBackground() {
    std::lock_guard control(controlMutex_);
    std::unique_ptr<Session> session;
    {
        std::lock_guard lock(sessionMutex_);
        session = std::move(session_);
    }
    if (!session) {
        if (stopping_) return stopping_->closed;  // a stop already underway
        return std::make_shared<std::atomic<bool>>(true);
    }
    // A capture that ended by itself (file count reached, write error) has
    // its writer finished: the previous stopping session, if any, is too.
    if (stopping_ && stopping_->writer.joinable()) stopping_->writer.join();
    session->stopRequested = true;
    stopping_ = std::move(session);
    return stopping_->closed;
}

DirectCaptureStatus DirectCapture::status() const {
    DirectCaptureStatus s;
    s.enabled = enabled_;
    {
        // The session changes only under the control lock, and the cache's
        // fill is read without a lock: a status request never waits behind
        // the engine's batches, which hold sessionMutex_ back to back while
        // the engine catches up.
        std::lock_guard control(controlMutex_);
        if (session_) s.cacheUsed = session_->cache.used();
    }
    s.cacheSize = cacheSize_;
    s.cachePressure = s.cacheSize > 0 && s.cacheUsed * 4 >= s.cacheSize * 3;
    s.bytesWritten = bytesWritten_;
    s.bytesDropped = bytesDropped_;
    s.error = error_;
    s.filesWritten = filesWritten_;
    // The writer counts the packet blocks of every chunk that reached a file;
    // frames dropped for lack of cache or discarded at the end never do.
    s.framesWritten = tally_[0].written + tally_[1].written;
    std::lock_guard lock(fileNameMutex_);
    s.currentFile = currentFile_;
    return s;
}

std::vector<uint8_t> DirectCapture::statusReply() const {
    const DirectCaptureStatus s = status();
    std::vector<uint8_t> reply(kStatusReplySize, 0);
    const uint64_t words[8] = {s.enabled,      s.cachePressure, s.cacheUsed, s.bytesWritten,
                               s.bytesDropped, s.error,         s.cacheSize, s.filesWritten};
    for (size_t i = 0; i < 8; ++i) wire::writeLe64(reply, 8 * i, words[i]);
    putUtf16Le(reply, 64, toUtf16(s.currentFile));
    return reply;
}

bool DirectCapture::accepting() const {
    return session_ != nullptr && session_->accepting.load(std::memory_order_relaxed);
}

bool DirectCapture::fullFrames() const {
    return session_ != nullptr && session_->settings.fullFrames;
}

void DirectCapture::account(Port port, Delivery delivery) {
    CaptureTally& t = tally_[static_cast<size_t>(port)];
    bump(t.received);
    if (delivery == Delivery::Filtered) bump(t.filtered);
    if (delivery == Delivery::DroppedByDevice || delivery == Delivery::DroppedByHost)
        bump(t.dropped);
}

void DirectCapture::accountLost(Port port, uint64_t count) {
    CaptureTally& t = tally_[static_cast<size_t>(port)];
    t.received.fetch_add(count, std::memory_order_relaxed);
    t.dropped.fetch_add(count, std::memory_order_relaxed);
}

bool DirectCapture::offer(Port port, uint64_t timestampNs, std::span<const uint8_t> data,
                          std::span<const uint8_t> extra, uint32_t originalLength) {
    CaptureTally& t = tally_[static_cast<size_t>(port)];
    bump(t.received);
    Session& s = *session_;
    const size_t size = pcapng::enhancedPacketSize(data.size() + extra.size());
    uint8_t* block = s.cache.reserve(size);
    if (block == nullptr) {
        bump(t.dropped);
        bytesDropped_.fetch_add(size, std::memory_order_relaxed);
        if (!s.overflowReported) {
            s.overflowReported = true;
            setError(kCaptureCacheOverflow);
            postState(true, kCaptureCacheOverflow);
        }
        return false;
    }
    pcapng::writeEnhancedPacket(block, static_cast<uint32_t>(port), timestampNs, data, extra,
                                originalLength);
    s.cache.commit(size);
    bump(t.accepted);
    return true;
}

void DirectCapture::publishFrames() {
    if (session_) session_->cache.publish();
}

bool DirectCapture::openNextFile(Session& session) {
    session.fileNumber += 1;
    const std::time_t now = std::time(nullptr);
    if (int error = createRingFile(session.file, session.settings.path, session.fileNumber, now);
        error != 0) {
        setFailure(kCaptureCannotCreate,
                   "cannot create " + ringFileName(session.settings.path, session.fileNumber, now) +
                       ": " + std::strerror(error));
        return false;
    }
    const std::string path = session.file.path();
    if (int error = session.file.append(session.header.data(), session.header.size()); error != 0) {
        setFailure(writeErrorCode(error), "cannot write " + path + ": " + std::strerror(error));
        session.file.close(false);
        return false;
    }
    bytesWritten_ += session.header.size();
    filesWritten_ += 1;
    {
        std::lock_guard lock(fileNameMutex_);
        currentFile_ = path;
    }
    {
        std::lock_guard lock(eventMutex_);
        events_.push_back({CaptureEvent::Kind::NewFile, path, true, 0, false, {}, {}});
    }
    // A looping capture keeps only the newest fileCount files.
    if (const std::string oldest = session.fileRing.add(path); !oldest.empty())
        ::unlink(oldest.c_str());
    session.fileStarted = std::chrono::steady_clock::now();
    session.filePackets = 0;
    return true;
}

bool DirectCapture::closeFile(Session& session) {
    if (!session.file.isOpen()) return true;
    const uint64_t now = wallClockNs();
    int error = 0;
    for (uint32_t port = 0; port < 2 && error == 0; ++port) {
        const CaptureTally& t = tally_[port];
        pcapng::InterfaceCounts counts{t.received.load(), t.dropped.load(), t.accepted.load()};
        const auto block = pcapng::interfaceStatistics(port, session.startNs, now, counts);
        error = session.file.append(block.data(), block.size());
        if (error == 0) bytesWritten_ += block.size();
    }
    // The statistics are a courtesy: a file that ends after its last packet
    // block is still whole, so a failure here is reported but keeps the packets.
    const int closeError = session.file.close(session.settings.extraOption);
    if (error == 0) error = closeError;
    if (error != 0)
        setFailure(writeErrorCode(error),
                   "cannot finish " + session.file.path() + ": " + std::strerror(error));
    return error == 0;
}

void DirectCapture::discardCache(Session& session) {
    for (auto left = session.cache.readable(); !left.empty(); left = session.cache.readable()) {
        for (size_t at = 0; at < left.size(); at += pcapng::blockLength(left.data() + at))
            bump(tally_[interfaceOf(left.data() + at)].dropped);
        bytesDropped_ += left.size();
        session.cache.release(left.size());
    }
}

void DirectCapture::finish(Session& session, uint32_t error) {
    session.accepting = false;
    // The engine may still be inside a batch: wait for it before clearing.
    { std::lock_guard lock(sessionMutex_); }
    discardCache(session);
    enabled_ = false;
    postEnd(error);
}

bool DirectCapture::writeChunk(Session& session, std::span<const uint8_t> chunk) {
    if (int error = session.file.append(chunk.data(), chunk.size()); error != 0) {
        setFailure(writeErrorCode(error),
                   "cannot write " + session.file.path() + ": " + std::strerror(error));
        closeFile(session);
        finish(session, error_);
        return false;
    }
    bytesWritten_ += chunk.size();
    return true;
}

void DirectCapture::writerLoop(Session& session) {
    // However the loop ends, the file is closed when it does.
    struct Closed {
        std::atomic<bool>& flag;
        ~Closed() { flag.store(true); }
    } closed{*session.closed};
    const DirectCaptureSettings& s = session.settings;
    auto rotate = [&]() -> bool {
        if (!closeFile(session)) return finish(session, error_), false;
        if (!s.loop && s.fileCount > 0 && session.fileNumber >= static_cast<uint32_t>(s.fileCount))
            return finish(session, error_), false;
        if (!openNextFile(session)) return finish(session, error_), false;
        return true;
    };
    while (true) {
        const bool durationOver = s.fileDuration > 0 && session.filePackets > 0 &&
                                  std::chrono::steady_clock::now() - session.fileStarted >=
                                      std::chrono::seconds(s.fileDuration);
        if (durationOver && !rotate()) return;
        const auto pending = session.cache.readable();
        if (pending.empty()) {
            if (session.stopRequested) break;
            std::this_thread::sleep_for(kIdleWait);
            continue;
        }
        uint64_t budget = UINT64_MAX;
        if (s.fileSize > 0)
            budget = s.fileSize > session.file.size() ? s.fileSize - session.file.size() : 0;
        size_t length = 0;
        uint64_t packets[2] = {0, 0};
        while (length < pending.size()) {
            const uint32_t block = pcapng::blockLength(pending.data() + length);
            // Every file takes at least one packet, however small the limit.
            if (length + block > budget && session.filePackets + packets[0] + packets[1] > 0) break;
            packets[interfaceOf(pending.data() + length)] += 1;
            length += block;
        }
        if (length == 0) {
            if (!rotate()) return;
            continue;
        }
        if (!writeChunk(session, pending.first(length))) return;
        session.cache.release(length);
        session.filePackets += packets[0] + packets[1];
        for (size_t port = 0; port < 2; ++port) bump(tally_[port].written, packets[port]);
    }
    closeFile(session);
    session.accepting = false;
    enabled_ = false;
    postEnd(error_);
}

}  // namespace nettlebeam::traffic
