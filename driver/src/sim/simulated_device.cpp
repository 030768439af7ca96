#include "simulated_device.h"

#include <algorithm>
#include <cstdio>

#include "../traffic/utf16_text.h"
#include "byte_order.h"
#include "capture_ring.h"
#include "external_ports.h"
#include "request_codes.h"
#include "simulated_device_model.h"

namespace nettlebeam::driver {

std::unique_ptr<DeviceModel> makeSimulatedDevice(const SimulatedDeviceSettings& settings,
                                                 DeviceHandle handle, DeviceHost& host) {
    return std::make_unique<sim::SimulatedDevice>(settings, handle, host);
}

}  // namespace nettlebeam::driver

namespace nettlebeam::driver::sim {

namespace code = wire::code;

namespace {

constexpr uint8_t kBadFirmwareId = 0x4A;
constexpr auto kRestartDowntime = std::chrono::milliseconds(2000);
constexpr size_t kExtraInformationSize = 64;

template <typename Bytes>
DeviceReply fixedReply(const Bytes& bytes, uint32_t capacity) {
    if (capacity < bytes.size()) return DeviceReply::failure();
    return DeviceReply::of(std::vector<uint8_t>(bytes.begin(), bytes.end()));
}

DeviceReply command(bool ok) {
    return ok ? DeviceReply::empty() : DeviceReply::failure();
}

std::array<uint8_t, 6> defaultMac(uint8_t hardwareId, DeviceHandle handle) {
    // Locally administered, the identifier and the handle: stable across
    // daemon restarts for the same fleet, so saved settings come back.
    auto h = static_cast<uint32_t>(handle);
    return {0x02, 0x4E, 0x42, hardwareId, static_cast<uint8_t>(h >> 8), static_cast<uint8_t>(h)};
}

std::optional<FilterKind> filterOf(uint32_t code) {
    switch (code) {
        case code::kReadPacketTypeFilter:
        case code::kWritePacketTypeFilter:
        case code::kSavePacketTypeFilter:
            return FilterKind::PacketType;
        case code::kReadDpiFilter:
        case code::kWriteDpiFilter:
        case code::kSaveDpiFilter:
            return FilterKind::Dpi;
        case code::kReadPacketFilter:
        case code::kWritePacketFilter:
        case code::kSavePacketFilter:
            return FilterKind::Packet;
        default:
            return std::nullopt;
    }
}

std::vector<uint8_t>& savedFilterField(PersistedState& state, FilterKind kind) {
    switch (kind) {
        case FilterKind::PacketType:
            return state.packetTypeFilter;
        case FilterKind::Dpi:
            return state.dpiFilter;
        case FilterKind::Packet:
            break;
    }
    return state.packetFilter;
}

}  // namespace

SimulatedDevice::SimulatedDevice(const SimulatedDeviceSettings& settings, DeviceHandle handle,
                                 DeviceHost& host)
    : settings_(settings),
      handle_(handle),
      host_(host),
      mac_(settings.mac.value_or(defaultMac(settings.hardwareId, handle))),
      store_(host.stateDirectory(), mac_),
      hardwareId_(settings.hardwareId),
      swFirmwareVersion_(settings.swFirmwareVersion),
      hwFirmwareVersion_(settings.hwFirmwareVersion),
      kind_(describeHardware(settings.hardwareId, settings.gps, settings.hwFirmwareVersion)),
      link_(kind_.ports),
      transceivers_(settings.cages[0], settings.cages[1]),
      timing_(kind_.gpsFitted, settings.hwFirmwareVersion),
      statistics_(true),
      capture_(false, nullptr) {
    if (auto loaded = store_.load()) persisted_ = *loaded;
    if (settings_.externalPorts)
        link_.followReported(
            [ports = settings_.externalPorts](int port) { return ports->link(port); });
    startUp();
    startTraffic(false);
}

TimePoint SimulatedDevice::now() const {
    return settings_.clock ? settings_.clock() : Clock::now();
}

std::chrono::system_clock::time_point SimulatedDevice::utcNow() const {
    return settings_.utcClock ? settings_.utcClock() : std::chrono::system_clock::now();
}

void SimulatedDevice::startUp() {
    TimePoint t = now();
    hardwareId_ = persisted_.hardwareId.value_or(settings_.hardwareId);
    swFirmwareVersion_ = persisted_.swFirmwareVersion.value_or(settings_.swFirmwareVersion);
    hwFirmwareVersion_ = persisted_.hwFirmwareVersion.value_or(settings_.hwFirmwareVersion);
    kind_ = describeHardware(hardwareId_, settings_.gps, hwFirmwareVersion_);

    auto saved = ConfigurationBlock::fromBytes(persisted_.configuration, kind_);
    config_ = saved.value_or(ConfigurationBlock::factoryDefault(kind_));
    // Passive ports never forward, whatever the factory or a configuration
    // saved while the interfaces were attached inline says.
    if (settings_.externalPorts && !settings_.externalPorts->canForward())
        config_.setInlineMode(false);
    for (auto kind : {FilterKind::PacketType, FilterKind::Dpi, FilterKind::Packet}) {
        const auto& bytes = savedFilterField(persisted_, kind);
        if (!bytes.empty()) filters_.restoreSaved(kind, bytes);
    }
    filters_.powerOn();

    transceivers_ = TransceiverModel(settings_.cages[0], settings_.cages[1]);
    transceivers_.powerOn(t);
    link_.setPorts(kind_.ports);
    for (int cage = 0; cage < 2; ++cage)
        link_.setCagePopulated(
            cage, kind_.ports != PortKind::Transceiver || transceivers_.cagePopulated(cage));
    link_.powerOn(config_, t);
    configureExternalPorts();
    timing_.setHardware(kind_.gpsFitted, hwFirmwareVersion_);
    timing_.powerOn(t, utcNow(), config_.timestampInitSource());
    bool portAFirst = kind_.capabilities & (CapPortSpeedSelect | CapFastEthernetSpeed);
    statistics_ = StatisticsModel(portAFirst);
    statistics_.powerOn(t);
    idleTraffic_.powerOn(t);
    capture_ =
        CaptureModel((kind_.capabilities & CapCaptureV2) != 0,
                     [this](uint32_t state, uint64_t error) { postCaptureState(state, error); });
    updaters_ = {};
}

SimulatedDevice::~SimulatedDevice() {
    host_.disposeInBackground(std::move(traffic_));
}

void SimulatedDevice::powerOn() {
    collectProgrammedFirmware();
    // A restart ends the captures; their files are closed in the background.
    host_.disposeInBackground(std::move(traffic_));
    startUp();
    startTraffic(true);
}

void SimulatedDevice::shutDown() {
    if (!traffic_) return;
    traffic_->stopDirect();
    postTrafficEvents();
}

void SimulatedDevice::tick(TimePoint t) {
    collectProgrammedFirmware();
    timing_.tick(t, utcNow());
    link_.follow(t);
    if (settings_.idleTraffic) idleTraffic_.tick(t, link_, statistics_);
    syncTraffic(t);
    postTrafficEvents();
}

void SimulatedDevice::startTraffic(bool restarting) {
    traffic::TrafficSourceSettings source{settings_.traffic, settings_.replayFile,
                                          settings_.replaySpeed, settings_.replayLoop,
                                          settings_.replayPorts};
    const double lineMbit = kind_.ports == PortKind::Transceiver    ? 10000
                            : kind_.ports == PortKind::FastEthernet ? 100
                                                                    : 1000;
    std::unique_ptr<traffic::FrameSource> frames;
    try {
        frames = settings_.externalPorts
                     ? settings_.externalPorts->openFrames()
                     : traffic::makeFrameSource(source, {{{lineMbit, false}, {lineMbit, false}}});
    } catch (const std::exception&) {
        // At attach the error reaches the user; after a restart the device
        // comes back without traffic rather than not at all.
        if (!restarting) throw;
    }
    traffic_ = std::make_unique<traffic::DeviceTraffic>(std::move(frames), handle_);
    for (uint32_t i = 0; i < CounterStore::kCount; ++i)
        if (auto block = statistics_.counters().read(i)) traffic_->programCounter(*block);
    syncTraffic(now());
}

void SimulatedDevice::syncTraffic(TimePoint t) {
    for (int port = 0; port < 2; ++port) {
        const PortLink link = link_.port(port, t);
        traffic::PortLine line;
        line.mbitPerSecond = link.speed == LinkSpeed::TenGigabit ? 10000
                             : link.speed == LinkSpeed::Gigabit  ? 1000
                             : link.speed == LinkSpeed::Hundred  ? 100
                                                                 : 10;
        line.halfDuplex = link.up() && !link.fullDuplex && kind_.ports != PortKind::Transceiver;
        traffic_->setPortLink(static_cast<traffic::Port>(port), link.up(), line);
    }
    traffic_->setCaptureFeatures(config_.captureFeatures());
    traffic_->applyFilters(filters_.read(FilterKind::PacketType), filters_.read(FilterKind::Dpi),
                           filters_.read(FilterKind::Packet));
}

void SimulatedDevice::configureExternalPorts() {
    if (settings_.externalPorts)
        settings_.externalPorts->configure(config_.inlineMode(),
                                           {config_.portDisabled(0), config_.portDisabled(1)});
}

void SimulatedDevice::postTrafficEvents() {
    for (const auto& record : traffic_->takeEventRecords()) host_.postEvent(record);
}

std::string SimulatedDevice::describe() const {
    char text[128];
    std::snprintf(text, sizeof text, "type %u (%s) id 0x%02x mac %02x:%02x:%02x:%02x:%02x:%02x",
                  kind_.type, kind_.name.c_str(), hardwareId_, mac_[0], mac_[1], mac_[2], mac_[3],
                  mac_[4], mac_[5]);
    if (settings_.externalPorts) return text + (" " + settings_.externalPorts->describe());
    return text;
}

void SimulatedDevice::persist() {
    store_.save(persisted_);
}

void SimulatedDevice::collectProgrammedFirmware() {
    // Flash that has finished programming holds the new firmware: it runs
    // from the next power-on, also after a restart of the daemon.
    TimePoint t = now();
    for (size_t image = 0; image < updaters_.size(); ++image) {
        std::optional<ImageVersions> versions;
        if (!updaters_[image].takeProgrammed(t, versions)) continue;
        if (versions) {
            persisted_.swFirmwareVersion = versions->software;
            persisted_.hwFirmwareVersion = versions->hardware;
        }
        if (hardwareId_ == kBadFirmwareId) persisted_.hardwareId = settings_.repairedHardwareId;
        persist();
    }
}

void SimulatedDevice::postCaptureState(uint32_t state, uint64_t errorCode) {
    std::vector<uint8_t> record(wire::kEventRecordBytes, 0);
    wire::writeLe32(record, 0, static_cast<uint32_t>(handle_));
    wire::writeLe32(record, 4, static_cast<uint32_t>(EventKind::CaptureState));
    wire::writeLe32(record, 12, state);
    wire::writeLe64(record, 16, errorCode);
    host_.postEvent(record);
}

const SimulatedDevice::Route* SimulatedDevice::findRoute(uint32_t c) {
    using S = SimulatedDevice;
    constexpr uint32_t kAll = 0;
    constexpr uint32_t kControl = CapDeviceControl;
    constexpr uint32_t kAnyStatistics = CapStatisticsV1 | CapStatisticsV2;
    static const Route routes[] = {
        {code::kHardwareId, kAll, &S::hardwareId},
        {code::kVersions, kAll, &S::versions},
        {code::kMacAddress, kAll, &S::macAddress},
        {code::kTimingStatus, kAll, &S::timingStatus},
        {code::kRestart, kAll, &S::restart},
        {code::kFirmwareBegin1, kAll, &S::firmware},
        {code::kFirmwareBegin2, kAll, &S::firmware},
        {code::kFirmwareFinish1, kAll, &S::firmware},
        {code::kFirmwareFinish2, kAll, &S::firmware},
        {code::kFirmwareData1, kAll, &S::firmware},
        {code::kFirmwareData2, kAll, &S::firmware},
        {code::kFirmwareProgress1, kAll, &S::firmware},
        {code::kFirmwareProgress2, kAll, &S::firmware},
        {code::kReadConfiguration, kControl, &S::readConfiguration},
        {code::kWriteConfiguration, kControl, &S::writeConfiguration},
        {code::kSaveConfiguration, kControl, &S::saveConfiguration},
        {code::kExtraInformation, kControl, &S::extraInformation},
        {code::kLinkStatusByte, kControl, &S::linkStatusByte},
        {code::kPortSpeedByte, kControl, &S::portSpeedByte},
        {code::kLinkDetails, CapPerPortLinkStatus, &S::linkDetails},
        {code::kTransceiverData, CapSfp, &S::transceiverData},
        {code::kStatisticsFormat1, CapStatisticsV1, &S::statisticsFormat1},
        {code::kStatisticsFormat2, CapStatisticsV2, &S::statisticsFormat2},
        {code::kHostDropCounter, kAnyStatistics, &S::hostDropCounter},
        {code::kStatisticsTrailer, kAnyStatistics, &S::statisticsTrailer},
        {code::kWriteCounter, CapStatisticsV2, &S::writeCounter},
        {code::kReadCounter, CapStatisticsV2, &S::readCounter},
        {code::kReadDpiFilter, CapPacketFilter, &S::filterRequest},
        {code::kWriteDpiFilter, CapPacketFilter, &S::filterRequest},
        {code::kSaveDpiFilter, CapPacketFilter, &S::filterRequest},
        {code::kReadPacketFilter, CapPacketFilter, &S::filterRequest},
        {code::kWritePacketFilter, CapPacketFilter, &S::filterRequest},
        {code::kSavePacketFilter, CapPacketFilter, &S::filterRequest},
        {code::kReadPacketTypeFilter, CapPacketsTypeFilter, &S::filterRequest},
        {code::kWritePacketTypeFilter, CapPacketsTypeFilter, &S::filterRequest},
        {code::kSavePacketTypeFilter, CapPacketsTypeFilter, &S::filterRequest},
        {code::kSetTimingTime, CapTiming, &S::setTimingTime},
        {code::kGpsOutputRead, CapTiming, &S::gpsOutputRead},
        {code::kGpsOutputFlush, CapTiming, &S::gpsOutputFlush},
        {code::kCaptureStart, CapCapture, &S::directCapture},
        {code::kCaptureStop, CapCapture, &S::directCapture},
        {code::kCaptureFileName, CapCapture, &S::directCapture},
        {code::kCaptureLoop, CapCapture, &S::directCapture},
        {code::kCaptureExtraOption, CapCapture, &S::directCapture},
        {code::kCaptureFileCount, CapCapture, &S::directCapture},
        {code::kCaptureMaxCache, CapCapture, &S::directCapture},
        {code::kCaptureFileSize, CapCapture, &S::directCapture},
        {code::kCaptureMode, CapCapture, &S::directCapture},
        {code::kCaptureFileDuration, CapCapture, &S::directCapture},
        {code::kCaptureFullFrames, CapCapture, &S::directCapture},
        {code::kCaptureStatus, kControl, &S::captureStatus},
        {code::kCaptureFramesWritten, CapCapture, &S::captureFramesWritten},
        {code::kMemoryCaptureStart, CapCapture, &S::memoryCapture},
        {code::kMemoryCaptureStop, CapCapture, &S::memoryCapture},
        {code::kMemoryCaptureData, CapCapture, &S::memoryCapture},
        {code::kMemoryCaptureMode, CapCapture, &S::memoryCapture},
        {code::kMemoryCaptureHeader, CapCapture, &S::memoryCapture},
        {wire::ring::kShareMemoryCapture, CapCapture, &S::memoryCapture},
    };
    auto found = std::find_if(std::begin(routes), std::end(routes),
                              [c](const Route& r) { return r.code == c; });
    return found == std::end(routes) ? nullptr : found;
}

DeviceReply SimulatedDevice::handleRequest(uint32_t code, std::span<const uint8_t> payload,
                                           uint32_t outputCapacity) {
    const Route* route = findRoute(code);
    if (!route) return DeviceReply::failure();
    // The hardware lacks what this request drives.
    if (route->capabilities != 0 && (kind_.capabilities & route->capabilities) == 0)
        return DeviceReply::failure();
    return (this->*route->handler)(code, payload, outputCapacity);
}

// --- Identification -------------------------------------------------------

DeviceReply SimulatedDevice::hardwareId(uint32_t, std::span<const uint8_t> payload,
                                        uint32_t capacity) {
    if (!payload.empty()) return DeviceReply::failure();
    return fixedReply(std::array<uint8_t, 1>{hardwareId_}, capacity);
}

DeviceReply SimulatedDevice::versions(uint32_t, std::span<const uint8_t> payload,
                                      uint32_t capacity) {
    if (!payload.empty()) return DeviceReply::failure();
    // Driver and software versions with their last component first, then
    // the hardware firmware version.
    std::array<uint8_t, 12> out{};
    for (int i = 0; i < 4; ++i) {
        out[i] = settings_.driverVersion[3 - i];
        out[4 + i] = swFirmwareVersion_[3 - i];
    }
    wire::writeLe32(out, 8, hwFirmwareVersion_);
    return fixedReply(out, capacity);
}

DeviceReply SimulatedDevice::macAddress(uint32_t, std::span<const uint8_t> payload,
                                        uint32_t capacity) {
    if (!payload.empty()) return DeviceReply::failure();
    return fixedReply(mac_, capacity);
}

DeviceReply SimulatedDevice::timingStatus(uint32_t, std::span<const uint8_t> payload,
                                          uint32_t capacity) {
    if (!payload.empty()) return DeviceReply::failure();
    return fixedReply(timing_.status(now(), utcNow()), capacity);
}

DeviceReply SimulatedDevice::restart(uint32_t, std::span<const uint8_t> payload, uint32_t) {
    if (!payload.empty()) return DeviceReply::failure();
    host_.restartDevice(handle_, kRestartDowntime);
    return DeviceReply::empty();
}

DeviceReply SimulatedDevice::firmware(uint32_t request, std::span<const uint8_t> payload,
                                      uint32_t capacity) {
    bool second = request == code::kFirmwareBegin2 || request == code::kFirmwareData2 ||
                  request == code::kFirmwareFinish2 || request == code::kFirmwareProgress2;
    FirmwareUpdater& updater = updaters_[second ? 1 : 0];
    TimePoint t = now();
    switch (request) {
        case code::kFirmwareBegin1:
        case code::kFirmwareBegin2:
            return command(updater.begin(payload, t));
        case code::kFirmwareData1:
        case code::kFirmwareData2:
            return command(updater.data(payload));
        case code::kFirmwareFinish1:
        case code::kFirmwareFinish2:
            return command(payload.empty() && updater.finish(t));
        default: {
            auto progress = updater.progress(t);
            if (!payload.empty() || !progress) return DeviceReply::failure();
            return fixedReply(std::array<uint8_t, 1>{*progress}, capacity);
        }
    }
}

// --- Device control -------------------------------------------------------

DeviceReply SimulatedDevice::readConfiguration(uint32_t, std::span<const uint8_t> payload,
                                               uint32_t capacity) {
    if (!payload.empty()) return DeviceReply::failure();
    return fixedReply(config_.bytes(), capacity);
}

DeviceReply SimulatedDevice::writeConfiguration(uint32_t, std::span<const uint8_t> payload,
                                                uint32_t) {
    auto block = ConfigurationBlock::fromBytes(payload, kind_);
    if (!block) return DeviceReply::failure();
    // A passive device must not start forwarding because a box was ticked.
    if (settings_.externalPorts && !settings_.externalPorts->canForward() && block->inlineMode())
        return DeviceReply::failure(
            "inline mode needs ports that can forward: the interfaces were attached without "
            "--inline");
    // Real ports take new link modes from the kernel, which may refuse them.
    for (int port = 0; port < 2 && settings_.externalPorts; ++port) {
        if (block->advertisement(port) == config_.advertisement(port)) continue;
        const std::string refused =
            settings_.externalPorts->setAdvertisement(port, block->advertisement(port));
        if (!refused.empty()) return DeviceReply::failure(refused);
    }
    config_ = *block;
    link_.reconfigure(config_, now());
    configureExternalPorts();
    syncTraffic(now());
    return DeviceReply::empty();
}

DeviceReply SimulatedDevice::saveConfiguration(uint32_t, std::span<const uint8_t> payload,
                                               uint32_t) {
    if (!payload.empty()) return DeviceReply::failure();
    auto previous = persisted_.configuration;
    auto bytes = config_.bytes();
    persisted_.configuration.assign(bytes.begin(), bytes.end());
    if (store_.save(persisted_)) return DeviceReply::empty();
    // Not stored: the power-on copy stays what the state folder holds.
    persisted_.configuration = previous;
    return DeviceReply::failure();
}

DeviceReply SimulatedDevice::extraInformation(uint32_t, std::span<const uint8_t> payload,
                                              uint32_t capacity) {
    if (!payload.empty()) return DeviceReply::failure();
    std::array<uint8_t, kExtraInformationSize> out{};
    out[0] = 1;  // the USB speed is known
    out[1] = settings_.usbSpeed;
    return fixedReply(out, capacity);
}

DeviceReply SimulatedDevice::linkStatusByte(uint32_t, std::span<const uint8_t> payload,
                                            uint32_t capacity) {
    if (!payload.empty()) return DeviceReply::failure();
    return fixedReply(std::array<uint8_t, 1>{link_.linkStatusByte(now())}, capacity);
}

DeviceReply SimulatedDevice::portSpeedByte(uint32_t, std::span<const uint8_t> payload,
                                           uint32_t capacity) {
    if (!payload.empty()) return DeviceReply::failure();
    return fixedReply(std::array<uint8_t, 1>{link_.portSpeedByte(now())}, capacity);
}

DeviceReply SimulatedDevice::linkDetails(uint32_t, std::span<const uint8_t> payload,
                                         uint32_t capacity) {
    if (!payload.empty()) return DeviceReply::failure();
    return fixedReply(link_.linkDetails(now()), capacity);
}

DeviceReply SimulatedDevice::transceiverData(uint32_t, std::span<const uint8_t> payload,
                                             uint32_t capacity) {
    if (!payload.empty()) return DeviceReply::failure();
    if (settings_.externalPorts)
        return fixedReply(TransceiverModel::reply({settings_.externalPorts->module(0),
                                                   settings_.externalPorts->module(1)}),
                          capacity);
    return fixedReply(transceivers_.transceiverData(now()), capacity);
}

// --- Statistics -----------------------------------------------------------

DeviceReply SimulatedDevice::statisticsFormat1(uint32_t, std::span<const uint8_t> payload,
                                               uint32_t capacity) {
    if (!payload.empty()) return DeviceReply::failure();
    auto reply = statistics_.format1(now(), link_);
    const bool portAFirst = kind_.capabilities & (CapPortSpeedSelect | CapFastEthernetSpeed);
    if (traffic_->carriesTraffic()) traffic_->fillPortGroups(reply, portAFirst);
    return fixedReply(reply, capacity);
}

DeviceReply SimulatedDevice::statisticsFormat2(uint32_t, std::span<const uint8_t> payload,
                                               uint32_t capacity) {
    if (!payload.empty()) return DeviceReply::failure();
    if (traffic_->carriesTraffic()) return fixedReply(traffic_->format2(), capacity);
    return fixedReply(statistics_.format2(), capacity);
}

DeviceReply SimulatedDevice::hostDropCounter(uint32_t, std::span<const uint8_t> payload,
                                             uint32_t capacity) {
    if (!payload.empty()) return DeviceReply::failure();
    if (traffic_->carriesTraffic()) {
        std::array<uint8_t, 8> drops{};
        wire::writeLe64(drops, 0, traffic_->hostDropped());
        return fixedReply(drops, capacity);
    }
    return fixedReply(statistics_.hostDropCounter(), capacity);
}

DeviceReply SimulatedDevice::statisticsTrailer(uint32_t, std::span<const uint8_t> payload,
                                               uint32_t capacity) {
    if (!payload.empty()) return DeviceReply::failure();
    return fixedReply(statistics_.trailer(now()), capacity);
}

DeviceReply SimulatedDevice::writeCounter(uint32_t, std::span<const uint8_t> payload, uint32_t) {
    if (!statistics_.counters().write(payload)) return DeviceReply::failure();
    traffic_->programCounter(payload);
    return DeviceReply::empty();
}

DeviceReply SimulatedDevice::readCounter(uint32_t, std::span<const uint8_t> payload,
                                         uint32_t capacity) {
    if (payload.size() != 4) return DeviceReply::failure();
    auto block = statistics_.counters().read(wire::readLe32(payload, 0));
    if (!block) return DeviceReply::failure();
    return fixedReply(*block, capacity);
}

// --- Filters --------------------------------------------------------------

DeviceReply SimulatedDevice::filterRequest(uint32_t request, std::span<const uint8_t> payload,
                                           uint32_t capacity) {
    FilterKind kind = *filterOf(request);
    switch (request) {
        case code::kReadDpiFilter:
        case code::kReadPacketFilter:
        case code::kReadPacketTypeFilter:
            if (!payload.empty()) return DeviceReply::failure();
            return fixedReply(filters_.read(kind), capacity);
        case code::kWriteDpiFilter:
        case code::kWritePacketFilter:
        case code::kWritePacketTypeFilter:
            if (!filters_.write(kind, payload)) return DeviceReply::failure();
            syncTraffic(now());
            return DeviceReply::empty();
        default:
            break;
    }
    if (!payload.empty()) return DeviceReply::failure();
    auto& field = savedFilterField(persisted_, kind);
    auto previous = field;
    field = filters_.read(kind);
    if (!store_.save(persisted_)) {
        field = previous;
        return DeviceReply::failure();
    }
    filters_.save(kind);
    return DeviceReply::empty();
}

// --- Timing ---------------------------------------------------------------

DeviceReply SimulatedDevice::setTimingTime(uint32_t, std::span<const uint8_t> payload, uint32_t) {
    return command(timing_.setTime(payload, now(), utcNow()));
}

DeviceReply SimulatedDevice::gpsOutputRead(uint32_t, std::span<const uint8_t> payload,
                                           uint32_t capacity) {
    if (!payload.empty()) return DeviceReply::failure();
    std::string text = timing_.readOutput(capacity);
    return DeviceReply::of(std::vector<uint8_t>(text.begin(), text.end()));
}

DeviceReply SimulatedDevice::gpsOutputFlush(uint32_t, std::span<const uint8_t> payload, uint32_t) {
    if (!payload.empty()) return DeviceReply::failure();
    timing_.flushOutput();
    return DeviceReply::empty();
}

// --- Capture --------------------------------------------------------------

// The capture model checks and keeps the settings; the traffic engine writes the files.
static traffic::DirectCaptureSettings engineSettings(const DirectCaptureSettings& s) {
    traffic::DirectCaptureSettings out;
    out.loop = s.loop;
    out.extraOption = s.extraOption;
    out.fullFrames = s.fullFrames;
    out.mode = s.mode;
    out.path = traffic::toUtf8(s.fileName);
    out.fileSize = s.fileSize;
    out.maxCache = s.maxCache;
    out.fileCount = static_cast<int32_t>(s.fileCount);
    out.fileDuration = static_cast<int32_t>(s.fileDuration);
    return out;
}

DeviceReply SimulatedDevice::directCapture(uint32_t request, std::span<const uint8_t> payload,
                                           uint32_t) {
    switch (request) {
        case code::kCaptureStart: {
            if (!payload.empty() || traffic_->directRunning() || traffic_->memoryRunning() ||
                capture_.settings().fileName.empty())
                return DeviceReply::failure();
            traffic_->configureDirect(engineSettings(capture_.settings()));
            const bool started = traffic_->startDirect();
            postTrafficEvents();
            return started ? DeviceReply::empty() : DeviceReply::failure(traffic_->directFailure());
        }
        case code::kCaptureStop:
            if (!payload.empty()) return DeviceReply::failure();
            // Answered once the cache is on disk and the file closed; the
            // daemon serves everyone else meanwhile.
            return DeviceReply::emptyWhen(traffic_->stopDirectInBackground());
        default:
            if (traffic_->directRunning()) return DeviceReply::failure();  // settings stay
            if (!capture_.applySetting(request, payload)) return DeviceReply::failure();
            traffic_->configureDirect(engineSettings(capture_.settings()));
            return DeviceReply::empty();
    }
}

DeviceReply SimulatedDevice::captureStatus(uint32_t, std::span<const uint8_t> payload,
                                           uint32_t capacity) {
    if (!payload.empty()) return DeviceReply::failure();
    return fixedReply(traffic_->directStatus(), capacity);
}

DeviceReply SimulatedDevice::captureFramesWritten(uint32_t, std::span<const uint8_t> payload,
                                                  uint32_t capacity) {
    if (!payload.empty()) return DeviceReply::failure();
    std::array<uint8_t, 8> out{};
    wire::writeLe64(out, 0, traffic_->directFramesWritten());
    return fixedReply(out, capacity);
}

DeviceReply SimulatedDevice::memoryCapture(uint32_t request, std::span<const uint8_t> payload,
                                           uint32_t capacity) {
    switch (request) {
        case code::kMemoryCaptureMode:
            return command(capture_.setMemoryMode(payload));
        case code::kMemoryCaptureStart:
            if (!payload.empty() || traffic_->directRunning() || traffic_->memoryRunning())
                return DeviceReply::failure();
            return command(capture_.startMemory() && traffic_->startMemory());
        case code::kMemoryCaptureStop:
            if (!payload.empty()) return DeviceReply::failure();
            traffic_->stopMemory();
            return command(capture_.stopMemory());
        case wire::ring::kShareMemoryCapture: {
            namespace ring = wire::ring;
            if (!payload.empty() || capacity < ring::kShareReplySize || !traffic_->memoryRunning())
                return DeviceReply::failure();
            auto share = traffic_->engine().memoryCapture().share();
            if (!share) return DeviceReply::failure();
            DeviceReply reply = DeviceReply::of(std::vector<uint8_t>(ring::kShareReplySize));
            reply.descriptors.emplace_back(share->dataFd);
            reply.descriptors.emplace_back(share->controlFd);
            ring::encodeShareReply(
                {ring::kLayoutVersion, ring::kControlPageSize, share->capacity, share->generation},
                reply.bytes.data());
            return reply;
        }
        default:
            break;
    }
    if (!payload.empty()) return DeviceReply::failure();
    // Data: the packet blocks since the last read, whole blocks only. The
    // header fills the caller's buffer as far as it reaches.
    if (request == code::kMemoryCaptureData)
        return DeviceReply::of(traffic_->memoryRunning() ? traffic_->memoryData(capacity)
                                                         : std::vector<uint8_t>{});
    return DeviceReply::of(traffic_->memoryHeader(capacity));
}

}  // namespace nettlebeam::driver::sim
