#include "capture_model.h"

#include <cstring>

#include "byte_order.h"
#include "request_codes.h"

namespace nettlebeam::driver::sim {

namespace code = wire::code;

namespace {

constexpr uint64_t kMinCache = 1ull << 20;
// The name goes into 4096-byte fields of the status and of the new-file
// event, where the driver also appends a timestamp to it.
constexpr size_t kMaxPathUnits = 1900;
constexpr size_t kNameField = 4096;

bool oneByteFlag(std::span<const uint8_t> payload, bool& out) {
    if (payload.size() != 1 || payload[0] > 1) return false;
    out = payload[0] == 1;
    return true;
}

bool nonNegative32(std::span<const uint8_t> payload, uint32_t& out) {
    if (payload.size() != 4) return false;
    uint32_t v = wire::readLe32(payload, 0);
    if (v > 0x7FFFFFFF) return false;
    out = v;
    return true;
}

void putName(std::span<uint8_t> out, size_t at, const std::u16string& name) {
    for (size_t i = 0; i < name.size() && 2 * i + 2 < kNameField; ++i)
        wire::writeLe16(out, at + 2 * i, name[i]);
}

void appendOption(std::vector<uint8_t>& v, uint16_t code, const void* data, uint16_t length) {
    wire::appendLe16(v, code);
    wire::appendLe16(v, length);
    const auto* p = static_cast<const uint8_t*>(data);
    v.insert(v.end(), p, p + length);
    while (v.size() % 4) v.push_back(0);
}

// A pcapng block: type, total length, body, total length.
void appendBlock(std::vector<uint8_t>& out, uint32_t type, const std::vector<uint8_t>& body) {
    uint32_t total = static_cast<uint32_t>(body.size() + 12);
    wire::appendLe32(out, type);
    wire::appendLe32(out, total);
    out.insert(out.end(), body.begin(), body.end());
    wire::appendLe32(out, total);
}

}  // namespace

std::u16string decodeCapturePath(std::span<const uint8_t> payload) {
    if (payload.size() < 4 || payload.size() % 2 || payload.size() / 2 - 1 > kMaxPathUnits)
        return {};
    size_t units = payload.size() / 2;
    std::u16string path;
    for (size_t i = 0; i < units; ++i) path.push_back(wire::readLe16(payload, 2 * i));
    if (path.back() != 0) return {};
    path.pop_back();
    for (size_t i = 0; i < path.size(); ++i) {
        char16_t c = path[i];
        if (c == 0) return {};
        bool high = c >= 0xD800 && c <= 0xDBFF;
        bool low = c >= 0xDC00 && c <= 0xDFFF;
        if (low) return {};
        if (high) {
            if (i + 1 >= path.size() || path[i + 1] < 0xDC00 || path[i + 1] > 0xDFFF) return {};
            ++i;
        }
    }
    // The library always sends a full path.
    if (path.front() != u'/') return {};
    return path;
}

bool CaptureModel::applySetting(uint32_t code, std::span<const uint8_t> payload) {
    // A running capture keeps the settings it started with.
    if (directRunning_) return false;
    DirectCaptureSettings s = settings_;
    bool ok = false;
    switch (code) {
        case code::kCaptureLoop:
            ok = oneByteFlag(payload, s.loop);
            break;
        case code::kCaptureExtraOption:
            ok = oneByteFlag(payload, s.extraOption);
            break;
        case code::kCaptureFullFrames:
            ok = oneByteFlag(payload, s.fullFrames) && (!s.fullFrames || fullFramesSupported_);
            break;
        case code::kCaptureFileCount:
            ok = nonNegative32(payload, s.fileCount);
            break;
        case code::kCaptureFileDuration:
            ok = nonNegative32(payload, s.fileDuration);
            break;
        case code::kCaptureMode:
            ok = payload.size() == 4 && wire::readLe32(payload, 0) == 0;
            break;
        case code::kCaptureFileSize:
            ok = payload.size() == 8;
            if (ok) s.fileSize = wire::readLe64(payload, 0);
            break;
        case code::kCaptureMaxCache:
            ok = payload.size() == 8 && wire::readLe64(payload, 0) >= kMinCache;
            if (ok) s.maxCache = wire::readLe64(payload, 0);
            break;
        case code::kCaptureFileName:
            s.fileName = decodeCapturePath(payload);
            ok = !s.fileName.empty();
            break;
        default:
            break;
    }
    if (ok) settings_ = s;
    return ok;
}

bool CaptureModel::startDirect() {
    if (directRunning_ || memoryRunning_ || settings_.fileName.empty()) return false;
    directRunning_ = true;
    progress_ = CaptureProgress{};
    listener_(1, 0);
    return true;
}

bool CaptureModel::stopDirect() {
    if (!directRunning_) return true;
    directRunning_ = false;
    progress_.cacheUsed = 0;
    progress_.cacheAlarm = false;
    listener_(0, progress_.errorCode);
    return true;
}

std::vector<uint8_t> CaptureModel::directStatus() const {
    // Eight words, then the configured base name and the file being written.
    std::vector<uint8_t> out(kStatusSize, 0);
    const uint64_t words[8] = {directRunning_ ? 1u : 0u, progress_.cacheAlarm ? 1u : 0u,
                               progress_.cacheUsed,      progress_.bytesWritten,
                               progress_.bytesDropped,   progress_.errorCode,
                               settings_.maxCache,       progress_.filesWritten};
    for (size_t i = 0; i < 8; ++i) wire::writeLe64(out, 8 * i, words[i]);
    putName(out, 64, settings_.fileName);
    putName(out, 64 + kNameField, progress_.currentFile);
    return out;
}

bool CaptureModel::setMemoryMode(std::span<const uint8_t> payload) {
    if (payload.size() != 4 || wire::readLe32(payload, 0) != 0 || memoryRunning_) return false;
    memoryModeSet_ = true;
    return true;
}

bool CaptureModel::startMemory() {
    if (!memoryModeSet_ || memoryRunning_ || directRunning_) return false;
    memoryRunning_ = true;
    return true;
}

bool CaptureModel::stopMemory() {
    memoryRunning_ = false;
    return true;
}

void CaptureModel::powerOn() {
    settings_ = DirectCaptureSettings{};
    progress_ = CaptureProgress{};
    directRunning_ = memoryRunning_ = memoryModeSet_ = false;
}

std::vector<uint8_t> CaptureModel::memoryHeader(uint32_t snapLength) {
    std::vector<uint8_t> out;
    std::vector<uint8_t> shb;
    wire::appendLe32(shb, 0x1A2B3C4D);  // byte-order magic
    wire::appendLe16(shb, 1);           // version 1.0
    wire::appendLe16(shb, 0);
    wire::appendLe32(shb, 0xFFFFFFFF);  // section length not known
    wire::appendLe32(shb, 0xFFFFFFFF);
    const char app[] = "nettlebeamd";
    appendOption(shb, 4, app, sizeof app - 1);  // shb_userappl
    appendOption(shb, 0, nullptr, 0);
    appendBlock(out, 0x0A0D0D0A, shb);
    for (const char* name : {"Port A", "Port B"}) {
        std::vector<uint8_t> idb;
        wire::appendLe16(idb, 1);  // Ethernet
        wire::appendLe16(idb, 0);
        wire::appendLe32(idb, snapLength);
        appendOption(idb, 2, name, static_cast<uint16_t>(std::strlen(name)));  // if_name
        const uint8_t nanoseconds = 9;
        appendOption(idb, 9, &nanoseconds, 1);  // if_tsresol
        appendOption(idb, 0, nullptr, 0);
        appendBlock(out, 0x00000001, idb);
    }
    return out;
}

}  // namespace nettlebeam::driver::sim
