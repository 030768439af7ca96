// A simulated device driven by a sequence of requests with fuzzed codes,
// payloads and reply capacities, and clock steps between them. Whatever
// arrives, the device answers within the capacity asked for, raises only
// well-formed events and keeps working.
#include <fuzzer/FuzzedDataProvider.h>

#include <array>
#include <chrono>
#include <cstring>

#include "fuzz_check.h"
#include "request_codes.h"
#include "sim/simulated_device.h"

using namespace nettlebeam::driver;

namespace {

namespace code = nettlebeam::wire::code;

constexpr uint32_t kDirectCaptureStart = code::kCaptureStart;
constexpr uint32_t kMaxReplyCapacity = 64u << 20;

// Every code of the request table, so that most steps reach a handler.
constexpr std::array<uint32_t, 56> kCodes{code::kSaveConfiguration,
                                          code::kWriteConfiguration,
                                          code::kReadConfiguration,
                                          code::kStatisticsFormat1,
                                          code::kVersions,
                                          code::kHardwareId,
                                          code::kHostDropCounter,
                                          code::kMacAddress,
                                          code::kTimingStatus,
                                          code::kLinkStatusByte,
                                          code::kPortSpeedByte,
                                          code::kLinkDetails,
                                          code::kTransceiverData,
                                          code::kReadDpiFilter,
                                          code::kWriteDpiFilter,
                                          code::kSaveDpiFilter,
                                          code::kWriteCounter,
                                          code::kReadCounter,
                                          code::kStatisticsFormat2,
                                          code::kReadPacketFilter,
                                          code::kWritePacketFilter,
                                          code::kSavePacketFilter,
                                          code::kSetTimingTime,
                                          code::kRestart,
                                          code::kExtraInformation,
                                          code::kStatisticsTrailer,
                                          code::kReadPacketTypeFilter,
                                          code::kWritePacketTypeFilter,
                                          code::kSavePacketTypeFilter,
                                          code::kFirmwareBegin1,
                                          code::kFirmwareBegin2,
                                          code::kFirmwareFinish1,
                                          code::kFirmwareFinish2,
                                          code::kFirmwareData1,
                                          code::kFirmwareData2,
                                          code::kFirmwareProgress1,
                                          code::kFirmwareProgress2,
                                          code::kCaptureStart,
                                          code::kCaptureStop,
                                          code::kCaptureFileName,
                                          code::kCaptureLoop,
                                          code::kCaptureExtraOption,
                                          code::kCaptureFileCount,
                                          code::kCaptureMaxCache,
                                          code::kCaptureFileSize,
                                          code::kCaptureStatus,
                                          code::kCaptureMode,
                                          code::kCaptureFileDuration,
                                          code::kCaptureFullFrames,
                                          code::kMemoryCaptureStart,
                                          code::kMemoryCaptureStop,
                                          code::kMemoryCaptureData,
                                          code::kMemoryCaptureMode,
                                          code::kMemoryCaptureHeader,
                                          code::kGpsOutputRead,
                                          code::kGpsOutputFlush};

constexpr std::array<uint8_t, 14> kHardwareIds{0x4A, 0x4B, 0x4C, 0x4D, 0x4E, 0x13, 0x11,
                                               0x10, 0x12, 0x14, 0x4F, 0x50, 0x15, 0x00};

class RecordingHost : public DeviceHost {
  public:
    void postEvent(const std::vector<uint8_t>& eventRecord) override {
        FUZZ_CHECK(eventRecord.size() == nettlebeam::wire::kEventRecordBytes);
    }
    void restartDevice(DeviceHandle, std::chrono::milliseconds downtime) override {
        FUZZ_CHECK(downtime.count() >= 0);
        restartRequested = true;
    }
    // No state directory: nothing a fuzzed request does reaches the disk.
    std::string stateDirectory() const override { return {}; }

    bool restartRequested = false;
};

SimulatedDeviceSettings settingsFrom(FuzzedDataProvider& input,
                                     const std::chrono::steady_clock::time_point* now) {
    SimulatedDeviceSettings settings;
    settings.hardwareId = input.ConsumeBool() ? input.ConsumeIntegral<uint8_t>()
                                              : input.PickValueInArray(kHardwareIds);
    settings.gps = input.ConsumeBool();
    settings.hwFirmwareVersion = input.ConsumeIntegralInRange<uint32_t>(0, 400);
    for (auto& cage : settings.cages)
        cage = static_cast<TransceiverKind>(input.ConsumeIntegralInRange(0, 2));
    settings.idleTraffic = input.ConsumeBool();
    settings.clock = [now] { return *now; };
    const auto utcStart = std::chrono::system_clock::time_point(std::chrono::seconds(1700000000));
    const auto steadyStart = *now;
    settings.utcClock = [now, utcStart, steadyStart] {
        return utcStart +
               std::chrono::duration_cast<std::chrono::system_clock::duration>(*now - steadyStart);
    };
    return settings;
}

uint32_t capacityFrom(FuzzedDataProvider& input) {
    // Mostly the sizes replies have; now and then anything the socket allows.
    if (input.ConsumeIntegralInRange(0, 15) == 0)
        return input.ConsumeIntegralInRange<uint32_t>(0, kMaxReplyCapacity);
    return input.ConsumeIntegralInRange<uint32_t>(0, 9000);
}

void sendRequest(DeviceModel& device, FuzzedDataProvider& input) {
    uint32_t code =
        input.ConsumeBool() ? input.PickValueInArray(kCodes) : input.ConsumeIntegral<uint32_t>();
    // Starting a direct capture writes capture files to the path in the
    // request; fuzzed paths must not reach the file system.
    if (code == kDirectCaptureStart) code = code::kCaptureStop;
    const uint32_t capacity = capacityFrom(input);
    const std::vector<uint8_t> payload =
        input.ConsumeBytes<uint8_t>(input.ConsumeIntegralInRange<size_t>(0, 600));
    const DeviceReply reply = device.handleRequest(code, payload, capacity);
    if (reply.ok)
        FUZZ_CHECK(reply.bytes.size() <= capacity);
    else
        FUZZ_CHECK(reply.bytes.empty());
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzedDataProvider input(data, size);
    auto now = std::chrono::steady_clock::time_point(std::chrono::hours(1));
    RecordingHost host;
    const SimulatedDeviceSettings settings = settingsFrom(input, &now);
    auto device = makeSimulatedDevice(settings, input.ConsumeIntegralInRange(1, 64), host);
    for (int step = 0; step < 64 && input.remaining_bytes() > 0; ++step) {
        if (input.ConsumeIntegralInRange(0, 3) == 0) {
            now += std::chrono::milliseconds(input.ConsumeIntegralInRange(0, 5000));
            device->tick(now);
        } else {
            sendRequest(*device, input);
        }
        if (host.restartRequested) {
            host.restartRequested = false;
            device->powerOn();
        }
    }
    FUZZ_CHECK(!device->describe().empty());
    return 0;
}
