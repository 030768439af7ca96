#include "device_traffic.h"

#include <algorithm>
#include <stdexcept>

namespace nettlebeam::traffic {
namespace {

void putLe32(std::vector<uint8_t>& out, size_t at, uint32_t v) {
    for (size_t i = 0; i < 4; ++i) out[at + i] = static_cast<uint8_t>(v >> (8 * i));
}
void putLe64(std::vector<uint8_t>& out, size_t at, uint64_t v) {
    for (size_t i = 0; i < 8; ++i) out[at + i] = static_cast<uint8_t>(v >> (8 * i));
}

// Strictly: UTF-16 to UTF-8, unpaired surrogates become U+FFFD.
void appendUtf8(std::string& out, uint32_t cp) {
    if (cp < 0x80) {
        out += static_cast<char>(cp);
    } else if (cp < 0x800) {
        out += static_cast<char>(0xC0 | cp >> 6);
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
        out += static_cast<char>(0xE0 | cp >> 12);
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | cp >> 18);
        out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    }
}

std::u16string toUtf16(const std::string& text) {
    std::u16string out;
    for (size_t i = 0; i < text.size();) {
        const auto c = static_cast<unsigned char>(text[i]);
        size_t length = c < 0x80         ? 1
                        : (c >> 5) == 6  ? 2
                        : (c >> 4) == 14 ? 3
                        : (c >> 3) == 30 ? 4
                                         : 0;
        if (length == 0 || i + length > text.size()) {
            out.push_back(u'\uFFFD');
            ++i;
            continue;
        }
        uint32_t cp = length == 1 ? c : c & (0x7F >> length);
        for (size_t k = 1; k < length; ++k)
            cp = cp << 6 | (static_cast<unsigned char>(text[i + k]) & 0x3F);
        if (cp >= 0x10000) {
            cp -= 0x10000;
            out.push_back(static_cast<char16_t>(0xD800 + (cp >> 10)));
            out.push_back(static_cast<char16_t>(0xDC00 + (cp & 0x3FF)));
        } else {
            out.push_back(static_cast<char16_t>(cp));
        }
        i += length;
    }
    return out;
}

}  // namespace

std::string toUtf8(std::u16string_view text) {
    std::string out;
    for (size_t i = 0; i < text.size(); ++i) {
        const uint32_t c = text[i];
        if (c >= 0xD800 && c <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 &&
            text[i + 1] <= 0xDFFF) {
            appendUtf8(out, 0x10000 + ((c - 0xD800) << 10) + (text[i + 1] - 0xDC00));
            ++i;
        } else if (c >= 0xD800 && c <= 0xDFFF) {
            appendUtf8(out, 0xFFFD);
        } else {
            appendUtf8(out, c);
        }
    }
    return out;
}

std::unique_ptr<FrameSource> makeFrameSource(const TrafficSourceSettings& settings,
                                             std::array<PortLine, 2> lines) {
    if (!settings.traffic.empty() && !settings.replayFile.empty())
        throw std::invalid_argument("--traffic and --replay exclude each other");
    if (!settings.replayFile.empty()) {
        ReplaySettings replay{settings.replayFile};
        replay = parseReplaySpeed(replay, settings.replaySpeed);
        replay.loop = settings.replayLoop;
        return std::make_unique<ReplaySource>(replay);
    }
    if (!settings.traffic.empty())
        return std::make_unique<GeneratedSource>(parseTrafficProfile(settings.traffic), lines);
    return nullptr;
}

DeviceTraffic::DeviceTraffic(std::unique_ptr<FrameSource> source)
    : hasSource_(source != nullptr), engine_(std::move(source)) {
    // No traffic before the device reports its links.
    engine_.setPortLink(Port::A, false, false);
    engine_.setPortLink(Port::B, false, false);
    if (hasSource_) engine_.start();
}

void DeviceTraffic::applyConfiguration(std::span<const uint8_t> block) {
    engine_.setFeatures(featuresFromConfigurationBlock(block));
}

void DeviceTraffic::applyFilters(std::span<const uint8_t> packetType, std::span<const uint8_t> dpi,
                                 std::span<const uint8_t> packetFilter) {
    auto same = [](const std::vector<uint8_t>& a, std::span<const uint8_t> b) {
        return std::equal(a.begin(), a.end(), b.begin(), b.end());
    };
    if (same(packetType_, packetType) && same(dpi_, dpi) && same(packetFilter_, packetFilter))
        return;
    FilterSet filters;
    // A block of the wrong size leaves that filter off rather than guessing.
    if (auto f = PacketTypeFilter::fromBlock(packetType)) filters.packetType = *f;
    if (auto f = DpiFilter::fromBlock(dpi)) filters.dpi = *f;
    if (auto f = PacketFilter::fromBlock(packetFilter)) filters.packet = *f;
    engine_.setFilters(filters);
    packetType_.assign(packetType.begin(), packetType.end());
    dpi_.assign(dpi.begin(), dpi.end());
    packetFilter_.assign(packetFilter.begin(), packetFilter.end());
}

void DeviceTraffic::fillPortGroups(std::vector<uint8_t>& format1, bool portAFirst) const {
    if (format1.size() < 128) return;
    const Port order[2] = {portAFirst ? Port::A : Port::B, portAFirst ? Port::B : Port::A};
    for (size_t group = 0; group < 2; ++group) {
        const PortCounters& p = engine_.port(order[group]);
        const uint64_t words[8] = {
            p.bytes.load(),     p.lessThan64.load(), p.from64To1518.load(), p.moreThan1518.load(),
            p.crcErrors.load(), p.jabbers.load(),    p.collisions.load(),   p.hwDropped.load()};
        for (size_t i = 0; i < 8; ++i) putLe64(format1, 8 * (8 * group + i), words[i]);
    }
}

void DeviceTraffic::configureDirect(const DirectCaptureSettings& settings) {
    configured_ = settings;
    configuredOnce_ = true;
}

bool DeviceTraffic::startDirect() {
    if (!configuredOnce_ || configured_.path.empty()) return false;
    startedOnce_ = true;
    return engine_.directCapture().start(configured_, engine_.snapLength(configured_.fullFrames));
}

std::vector<uint8_t> DeviceTraffic::directStatus() const {
    std::vector<uint8_t> reply = engine_.directCapture().statusReply();
    if (startedOnce_ || !configuredOnce_) return reply;
    // Before the first start the status shows the settings: the cache size
    // and the base name.
    putLe64(reply, 48, configured_.maxCache);
    const std::u16string name = toUtf16(configured_.path);
    for (size_t i = 0; i < name.size() && 64 + 2 * i + 3 < reply.size(); ++i) {
        reply[64 + 2 * i] = static_cast<uint8_t>(name[i]);
        reply[64 + 2 * i + 1] = static_cast<uint8_t>(name[i] >> 8);
    }
    return reply;
}

std::vector<uint8_t> DeviceTraffic::memoryHeader(uint32_t capacity) const {
    auto header = pcapng::fileHeader(engine_.snapLength(false), "nettlebeamd");
    header.resize(std::min<size_t>(header.size(), capacity));
    return header;
}

std::vector<uint8_t> DeviceTraffic::memoryData(uint32_t capacity) {
    std::vector<uint8_t> out(capacity);
    out.resize(engine_.memoryCapture().read(out.data(), out.size()));
    return out;
}

std::vector<std::vector<uint8_t>> DeviceTraffic::takeEventRecords(int32_t handle) {
    std::vector<std::vector<uint8_t>> records;
    for (const CaptureEvent& e : engine_.directCapture().takeEvents()) {
        std::vector<uint8_t> record(kEventRecordSize, 0);
        putLe32(record, 0, static_cast<uint32_t>(handle));
        if (e.kind == CaptureEvent::Kind::NewFile) {
            putLe32(record, 4, 1);
            const std::u16string name = toUtf16(e.path);
            // The name and its terminating zero fit in the record's 4096 bytes.
            const size_t units = std::min(name.size(), (kEventRecordSize - 12) / 2 - 1);
            for (size_t i = 0; i < units; ++i) {
                record[12 + 2 * i] = static_cast<uint8_t>(name[i]);
                record[12 + 2 * i + 1] = static_cast<uint8_t>(name[i] >> 8);
            }
        } else {
            putLe32(record, 4, 4);
            putLe32(record, 12, e.enabled ? 1 : 0);
            putLe64(record, 16, e.error);
        }
        records.push_back(std::move(record));
    }
    return records;
}

}  // namespace nettlebeam::traffic
