// The simulated device's model, for code that feeds it (a traffic engine)
// or inspects it beyond the request interface.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <span>

#include "../device/capture_model.h"
#include "../device/configuration_block.h"
#include "../device/filter_store.h"
#include "../device/statistics_model.h"
#include "../traffic/device_traffic.h"
#include "device_catalog.h"
#include "device_state_store.h"
#include "firmware_updater.h"
#include "link_model.h"
#include "simulated_device.h"
#include "timing_model.h"
#include "transceiver_model.h"

namespace nettlebeam::driver::sim {

class SimulatedDevice final : public DeviceModel {
  public:
    SimulatedDevice(const SimulatedDeviceSettings& settings, DeviceHandle handle, DeviceHost& host);
    // The traffic (and any capture still writing) ends on the host's disposal thread.
    ~SimulatedDevice() override;
    SimulatedDevice(const SimulatedDevice&) = delete;
    SimulatedDevice& operator=(const SimulatedDevice&) = delete;

    DeviceReply handleRequest(uint32_t code, std::span<const uint8_t> payload,
                              uint32_t outputCapacity) override;
    void tick(TimePoint now) override;
    std::string describe() const override;
    void powerOn() override;
    void shutDown() override;

    const DeviceKind& kind() const { return kind_; }
    const ConfigurationBlock& configuration() const { return config_; }
    const FilterStore& filters() const { return filters_; }
    const LinkModel& links() const { return link_; }
    StatisticsModel& statistics() { return statistics_; }
    CaptureModel& capture() { return capture_; }
    traffic::DeviceTraffic& traffic() { return *traffic_; }
    TimePoint now() const;

  private:
    // A handler serves one or more request codes and is told which one came.
    using Handler = DeviceReply (SimulatedDevice::*)(uint32_t request, std::span<const uint8_t>,
                                                     uint32_t capacity);
    struct Route {
        uint32_t code;
        uint32_t capabilities;  // any of these bits serves it; 0 every device
        Handler handler;
    };
    static const Route* findRoute(uint32_t code);

    std::chrono::system_clock::time_point utcNow() const;
    void startUp();
    void persist();
    void collectProgrammedFirmware();
    void postCaptureState(uint32_t state, uint64_t errorCode);
    // The traffic engine follows the device's settings and links.
    void startTraffic(bool restarting);
    void syncTraffic(TimePoint now);
    void postTrafficEvents();
    // Interface ports follow the configuration's inline mode and disabled ports.
    void configureExternalPorts();

    // Identification, present on every device.
    DeviceReply hardwareId(uint32_t request, std::span<const uint8_t>, uint32_t capacity);
    DeviceReply versions(uint32_t request, std::span<const uint8_t>, uint32_t capacity);
    DeviceReply macAddress(uint32_t request, std::span<const uint8_t>, uint32_t capacity);
    DeviceReply timingStatus(uint32_t request, std::span<const uint8_t>, uint32_t capacity);
    DeviceReply restart(uint32_t request, std::span<const uint8_t>, uint32_t capacity);
    DeviceReply firmware(uint32_t request, std::span<const uint8_t>, uint32_t capacity);
    // Device control.
    DeviceReply readConfiguration(uint32_t request, std::span<const uint8_t>, uint32_t capacity);
    DeviceReply writeConfiguration(uint32_t request, std::span<const uint8_t>, uint32_t capacity);
    DeviceReply saveConfiguration(uint32_t request, std::span<const uint8_t>, uint32_t capacity);
    DeviceReply extraInformation(uint32_t request, std::span<const uint8_t>, uint32_t capacity);
    DeviceReply linkStatusByte(uint32_t request, std::span<const uint8_t>, uint32_t capacity);
    DeviceReply portSpeedByte(uint32_t request, std::span<const uint8_t>, uint32_t capacity);
    DeviceReply linkDetails(uint32_t request, std::span<const uint8_t>, uint32_t capacity);
    DeviceReply transceiverData(uint32_t request, std::span<const uint8_t>, uint32_t capacity);
    // Statistics and counters.
    DeviceReply statisticsFormat1(uint32_t request, std::span<const uint8_t>, uint32_t capacity);
    DeviceReply statisticsFormat2(uint32_t request, std::span<const uint8_t>, uint32_t capacity);
    DeviceReply hostDropCounter(uint32_t request, std::span<const uint8_t>, uint32_t capacity);
    DeviceReply statisticsTrailer(uint32_t request, std::span<const uint8_t>, uint32_t capacity);
    DeviceReply writeCounter(uint32_t request, std::span<const uint8_t>, uint32_t capacity);
    DeviceReply readCounter(uint32_t request, std::span<const uint8_t>, uint32_t capacity);
    // Filters.
    DeviceReply filterRequest(uint32_t request, std::span<const uint8_t>, uint32_t capacity);
    // Timing.
    DeviceReply setTimingTime(uint32_t request, std::span<const uint8_t>, uint32_t capacity);
    DeviceReply gpsOutputRead(uint32_t request, std::span<const uint8_t>, uint32_t capacity);
    DeviceReply gpsOutputFlush(uint32_t request, std::span<const uint8_t>, uint32_t capacity);
    // Capture.
    DeviceReply directCapture(uint32_t request, std::span<const uint8_t>, uint32_t capacity);
    DeviceReply captureStatus(uint32_t request, std::span<const uint8_t>, uint32_t capacity);
    DeviceReply captureFramesWritten(uint32_t request, std::span<const uint8_t>, uint32_t capacity);
    DeviceReply memoryCapture(uint32_t request, std::span<const uint8_t>, uint32_t capacity);

    SimulatedDeviceSettings settings_;
    DeviceHandle handle_;
    DeviceHost& host_;
    std::array<uint8_t, 6> mac_{};
    DeviceStateStore store_;
    PersistedState persisted_;

    uint8_t hardwareId_;
    std::array<uint8_t, 4> swFirmwareVersion_;
    uint32_t hwFirmwareVersion_;
    DeviceKind kind_;

    ConfigurationBlock config_;
    FilterStore filters_;
    LinkModel link_;
    TransceiverModel transceivers_;
    TimingModel timing_;
    StatisticsModel statistics_;
    IdleTraffic idleTraffic_;
    CaptureModel capture_;
    std::array<FirmwareUpdater, 2> updaters_;
    std::unique_ptr<traffic::DeviceTraffic> traffic_;
};

}  // namespace nettlebeam::driver::sim
