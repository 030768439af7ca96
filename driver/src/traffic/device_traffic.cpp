#include "device_traffic.h"

#include <algorithm>
#include <stdexcept>

#include "../log.h"
#include "byte_order.h"
#include "generated_source.h"
#include "utf16_text.h"

namespace nettlebeam::traffic {
namespace {

// Like a capture tool's closing summary: where every frame went, per port.
std::string describeEnd(int32_t handle, const CaptureEvent& e) {
    std::string text = "device " + std::to_string(handle) + ": capture ended";
    if (e.error != 0) text += " with error " + std::to_string(e.error);
    if (!e.failure.empty()) text += " (" + e.failure + ")";
    for (size_t port = 0; port < 2; ++port) {
        const PortTotals& t = e.totals[port];
        text += std::string(port == 0 ? ": " : "; ") + "port " + (port == 0 ? "A" : "B") +
                " received " + std::to_string(t.received) + ", written " +
                std::to_string(t.written) + ", dropped " + std::to_string(t.dropped) +
                ", filtered " + std::to_string(t.filtered);
    }
    return text;
}

}  // namespace

std::unique_ptr<FrameSource> makeFrameSource(const TrafficSourceSettings& settings,
                                             std::array<PortLine, 2> lines) {
    if (!settings.traffic.empty() && !settings.replayFile.empty())
        throw std::invalid_argument("--traffic and --replay exclude each other");
    if (!settings.replayFile.empty()) {
        ReplaySettings replay{settings.replayFile};
        replay = parseReplaySpeed(replay, settings.replaySpeed);
        replay.loop = settings.replayLoop;
        replay.ports = settings.replayPorts;
        return std::make_unique<ReplaySource>(replay);
    }
    if (!settings.traffic.empty())
        return std::make_unique<GeneratedSource>(parseTrafficProfile(settings.traffic), lines);
    return nullptr;
}

DeviceTraffic::DeviceTraffic(std::unique_ptr<FrameSource> source, int32_t handle)
    : hasSource_(source != nullptr), handle_(handle), engine_(std::move(source)) {
    // No traffic before the device reports its links.
    engine_.setPortLink(Port::A, false, {});
    engine_.setPortLink(Port::B, false, {});
    if (hasSource_) engine_.start();
}

DeviceTraffic::~DeviceTraffic() {
    engine_.stop();
    engine_.directCapture().stop();
    for (const CaptureEvent& e : engine_.directCapture().takeEvents())
        if (e.ended) driver::logLine(describeEnd(handle_, e));
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
    dpiEnabled_ = filters.dpi.enabled();
    followWholeFrames();
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
        for (size_t i = 0; i < 8; ++i) wire::writeLe64(format1, 8 * (8 * group + i), words[i]);
    }
}

void DeviceTraffic::configureDirect(const DirectCaptureSettings& settings) {
    configured_ = settings;
    configuredOnce_ = true;
}

bool DeviceTraffic::startDirect() {
    if (!configuredOnce_ || configured_.path.empty()) return false;
    startedOnce_ = true;
    followWholeFrames(true);
    const bool started =
        engine_.directCapture().start(configured_, engine_.snapLength(configured_.fullFrames));
    followWholeFrames();
    return started;
}

bool DeviceTraffic::startMemory() {
    followWholeFrames(true);
    const bool started = engine_.memoryCapture().start(engine_.snapLength(false));
    followWholeFrames();
    return started;
}

void DeviceTraffic::followWholeFrames(bool starting) {
    engine_.keepWholeFrames(starting || dpiEnabled_ || directRunning() || memoryRunning());
}

std::vector<uint8_t> DeviceTraffic::directStatus() const {
    std::vector<uint8_t> reply = engine_.directCapture().statusReply();
    if (startedOnce_ || !configuredOnce_) return reply;
    // Before the first start the status shows the settings: the cache size
    // and the base name.
    wire::writeLe64(reply, 48, configured_.maxCache);
    putUtf16Le(reply, 64, toUtf16(configured_.path));
    return reply;
}

std::vector<uint8_t> DeviceTraffic::memoryHeader(uint32_t capacity) const {
    auto header = pcapng::fileHeader(engine_.snapLength(false), "nettlebeamd");
    header.resize(std::min<size_t>(header.size(), capacity));
    return header;
}

std::vector<uint8_t> DeviceTraffic::memoryData(uint32_t capacity) {
    // As large as what is cached, not as the caller's buffer: a reply may
    // wait long for its reader.
    std::vector<uint8_t> out(std::min<uint64_t>(capacity, engine_.memoryCapture().cached()));
    out.resize(engine_.memoryCapture().read(out.data(), out.size()));
    out.shrink_to_fit();
    return out;
}

std::vector<std::vector<uint8_t>> DeviceTraffic::takeEventRecords() {
    std::vector<std::vector<uint8_t>> records;
    for (const CaptureEvent& e : engine_.directCapture().takeEvents()) {
        std::vector<uint8_t> record(wire::kEventRecordBytes, 0);
        wire::writeLe32(record, 0, static_cast<uint32_t>(handle_));
        if (e.kind == CaptureEvent::Kind::NewFile) {
            wire::writeLe32(record, 4, 1);
            // The name and its terminating zero fit in the record's 4096 bytes.
            putUtf16Le(record, 12, toUtf16(e.path));
        } else {
            wire::writeLe32(record, 4, 4);
            wire::writeLe32(record, 12, e.enabled ? 1 : 0);
            wire::writeLe64(record, 16, e.error);
            if (e.ended) driver::logLine(describeEnd(handle_, e));
        }
        records.push_back(std::move(record));
    }
    return records;
}

}  // namespace nettlebeam::traffic
