// A simulated device driven by a sequence of requests with fuzzed codes,
// payloads and reply capacities, and clock steps between them. Whatever
// arrives, the device answers within the capacity asked for, raises only
// well-formed events and keeps working.
#include <fuzzer/FuzzedDataProvider.h>

#include <array>
#include <chrono>
#include <cstring>

#include "fuzz_check.h"
#include "sim/request_codes.h"
#include "sim/simulated_device.h"

using namespace nettlebeam::driver;

namespace {

constexpr size_t kEventRecordSize = 4108;
constexpr uint32_t kDirectCaptureStart = sim::code::kCaptureStart;
constexpr uint32_t kMaxReplyCapacity = 64u << 20;

// Every code of the request table, so that most steps reach a handler.
constexpr std::array<uint32_t, 56> kCodes{
    0xCB202004, 0xCB202008, 0xCB20200C, 0xCB202010, 0xCB20201C, 0xCB202020, 0xCB202024, 0xCB202028,
    0xCB202030, 0xCB202034, 0xCB202040, 0xCB202044, 0xCB202048, 0xCB20204C, 0xCB202050, 0xCB202054,
    0xCB202058, 0xCB20205C, 0xCB202060, 0xCB202064, 0xCB202068, 0xCB20206C, 0xCB202078, 0xCB20207C,
    0xCB202088, 0xCB20208C, 0xCB202090, 0xCB202094, 0xCB202098, 0xCB202400, 0xCB202404, 0xCB202408,
    0xCB20240C, 0xCB202410, 0xCB202414, 0xCB202418, 0xCB20241C, 0xCB202800, 0xCB202804, 0xCB202808,
    0xCB20280C, 0xCB202810, 0xCB202814, 0xCB202818, 0xCB20281C, 0xCB202820, 0xCB202824, 0xCB202828,
    0xCB20282C, 0xCB202C00, 0xCB202C04, 0xCB202C0B, 0xCB202C0C, 0xCB202C10, 0xCB203000, 0xCB203004};

constexpr std::array<uint8_t, 14> kHardwareIds{0x4A, 0x4B, 0x4C, 0x4D, 0x4E, 0x13, 0x11,
                                               0x10, 0x12, 0x14, 0x4F, 0x50, 0x15, 0x00};

class RecordingHost : public DeviceHost {
  public:
    void postEvent(const std::vector<uint8_t>& eventRecord) override {
        FUZZ_CHECK(eventRecord.size() == kEventRecordSize);
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
    if (code == kDirectCaptureStart) code = sim::code::kCaptureStop;
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
