// The device worker against a private nettlebeamd with simulated devices.
#include <malloc.h>
#if defined(__SANITIZE_ADDRESS__)
#define NETTLEBEAM_TEST_ASAN 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define NETTLEBEAM_TEST_ASAN 1
#endif
#endif
#ifdef NETTLEBEAM_TEST_ASAN
#include <sanitizer/allocator_interface.h>
#endif

#include <cstdlib>
#include <cstring>
#include <ctime>

#include "udp_responder.h"
#include "worker_fixture.h"

namespace {

constexpr uint32_t kInvalidInitSource = 9;  // the library refuses it without writing
constexpr uint32_t kNtpSecondsAt2024 = 3913056000u;
constexpr int32_t kUnixSecondsAt2024 = 1704067200;

bool sameBytes(const void* a, const void* b, std::size_t size) {
    return std::memcmp(a, b, size) == 0;
}

template <typename Record>
bool isZero(const Record& record) {
    static const Record zero{};
    return sameBytes(&record, &zero, sizeof record);
}

int currentUtcYear() {
    const std::time_t now = std::time(nullptr);
    std::tm tm{};
    gmtime_r(&now, &tm);
    return tm.tm_year + 1900;
}

}  // namespace

TEST_F(WorkerTest, AnnouncesArrivingDevicesWithTheirIdentityAndTheirRemoval) {
    const int early = attach(
        {"--type", "13", "--mac", "02:11:22:33:44:55", "--sw-fw", "1.4.2.9", "--hw-fw", "212"});
    startWorker();
    const StatsThreadInfo first = waitForArrival(early);
    EXPECT_EQ(first.type, 13u);
    EXPECT_EQ(first.capabilities, 0x0000A113u);  // hardware firmware below 300
    const uint8_t mac[6] = {0x02, 0x11, 0x22, 0x33, 0x44, 0x55};
    EXPECT_TRUE(sameBytes(first.mac, mac, 6));
    const uint8_t software[4] = {1, 4, 2, 9};
    EXPECT_TRUE(sameBytes(first.versions.swFirmwareVersion, software, 4));
    EXPECT_EQ(first.versions.hwFirmwareVersion, 212u);
    NettlebeamApiDeviceFeatures features{};
    ASSERT_EQ(NettlebeamAPIGetDeviceFeatures(early, &features), 0);
    EXPECT_TRUE(sameBytes(&first.features, &features, sizeof features));

    // A device without device control is announced without features.
    const int late = attach({"--hwid", "0x4A"});
    const StatsThreadInfo second = waitForArrival(late);
    EXPECT_EQ(second.type, 1u);
    EXPECT_EQ(second.capabilities, 0x10u);
    EXPECT_TRUE(isZero(second.features));

    daemon_->detach(early);
    ASSERT_TRUE(waitFor([&] { return !recorder_->removed.isEmpty(); }));
    const StatsThreadInfo gone = recorder_->removed.first();
    EXPECT_EQ(gone.handle, early);
    EXPECT_EQ(gone.type, 0u);
    EXPECT_TRUE(isZero(gone.versions));
    EXPECT_EQ(recorder_->added.size(), 2);
}

TEST_F(WorkerTest, StatusReplyHoldsWhatTheCapabilitiesAllowAndNothingOfTheRequest) {
    const int rich = attach({"--type", "12", "--usb", "2", "--hw-fw", "300"});
    const int bare = attach({"--hwid", "0x77", "--usb", "3"});
    startWorker();
    waitForArrival(rich);
    waitForArrival(bare);

    StatsThreadInfo request = requestFor(rich);
    std::strcpy(request.firmwarePath, "/not/echoed");
    request.updateProgress = 55;
    request.timingSet.source = 5;
    post(worker_.get(), &StatsThread::slot_get_iface_status, request);
    post(worker_.get(), &StatsThread::slot_get_iface_status, requestFor(bare));
    ASSERT_TRUE(waitFor([&] { return recorder_->status.size() == 2; }));

    const StatsThreadInfo full = recorder_->status[0];
    EXPECT_EQ(full.handle, rich);
    EXPECT_EQ(full.type, 12u);
    EXPECT_EQ(full.capabilities, 0x002D8ADFu);
    EXPECT_EQ(full.extraInfo, 2);
    EXPECT_EQ(full.statistics.version, 2);
    EXPECT_NE(full.statistics.timestamp, 0u);
    EXPECT_NE(full.timingStatus.rtcYear, 0);
    EXPECT_EQ(full.linkStatus.sfpValid, 1);  // transceiver cages
    NettlebeamApiDeviceFeatures features{};
    NettlebeamApiPortsSpeed speeds{};
    ASSERT_EQ(NettlebeamAPIGetDeviceFeatures(rich, &features), 0);
    ASSERT_EQ(NettlebeamAPIGetDevicePortsSpeed(rich, &speeds), 0);
    EXPECT_TRUE(sameBytes(&full.features, &features, sizeof features));
    EXPECT_TRUE(sameBytes(&full.portsSpeed, &speeds, sizeof speeds));
    EXPECT_EQ(full.firmwarePath[0], '\0');
    EXPECT_EQ(full.updateProgress, 0);
    EXPECT_EQ(full.timingSet.source, 0);

    const StatsThreadInfo identityOnly = recorder_->status[1];
    EXPECT_EQ(identityOnly.handle, bare);
    EXPECT_EQ(identityOnly.type, 2u);
    EXPECT_EQ(identityOnly.capabilities, 0x10u);
    EXPECT_FALSE(isZero(identityOnly.mac));
    EXPECT_EQ(identityOnly.extraInfo, 0);
    EXPECT_EQ(identityOnly.statistics.version, 0);
    EXPECT_TRUE(isZero(identityOnly.features));
    EXPECT_TRUE(isZero(identityOnly.linkStatus));
    EXPECT_TRUE(isZero(identityOnly.timingStatus));
    EXPECT_TRUE(isZero(identityOnly.captureStatus));
}

TEST_F(WorkerTest, FailedReadsAndVanishedDevicesGetNoReply) {
    const int device = attach({"--type", "13"});
    startWorker();
    waitForArrival(device);

    // The statistics read fails once: identity and link status were read, but
    // nothing is sent.
    daemon_->inject({std::to_string(device), "0xCB202010", "--fail"});
    post(worker_.get(), &StatsThread::slot_get_iface_status, requestFor(device));
    const int gone = device + 1000;
    post(worker_.get(), &StatsThread::slot_get_iface_status, requestFor(gone));
    post(worker_.get(), &StatsThread::slot_get_features, requestFor(gone));
    post(worker_.get(), &StatsThread::slot_get_simple_filter, requestFor(gone));
    post(worker_.get(), &StatsThread::slot_get_DPI_filter, requestFor(gone));
    post(worker_.get(), &StatsThread::slot_get_packets_type_filter, requestFor(gone));
    settle(device);
    EXPECT_TRUE(recorder_->status.isEmpty());
    EXPECT_EQ(recorder_->features.size(), 1);
    EXPECT_TRUE(recorder_->simpleFilter.isEmpty());
    EXPECT_TRUE(recorder_->dpiFilter.isEmpty());
    EXPECT_TRUE(recorder_->packetsTypeFilter.isEmpty());

    // The fault is used up: the same request is answered now.
    post(worker_.get(), &StatsThread::slot_get_iface_status, requestFor(device));
    ASSERT_TRUE(waitFor([&] { return recorder_->status.size() == 1; }));
    EXPECT_EQ(recorder_->status[0].statistics.version, 1);
}

TEST_F(WorkerTest, RepliesAreTheRequestWithTheFetchedFieldsOverwritten) {
    const int device = attach({"--type", "12", "--hw-fw", "300"});
    startWorker();
    waitForArrival(device);

    StatsThreadInfo request = requestFor(device);
    std::strcpy(request.firmwarePath, "/kept/by/the/reply");
    request.updateProgress = 42;
    request.features.ppsDelay = 777;  // overwritten by the device's value
    post(worker_.get(), &StatsThread::slot_get_features, request);
    post(worker_.get(), &StatsThread::slot_get_simple_filter, request);
    post(worker_.get(), &StatsThread::slot_get_DPI_filter, request);
    post(worker_.get(), &StatsThread::slot_get_packets_type_filter, request);
    ASSERT_TRUE(waitFor([&] { return recorder_->packetsTypeFilter.size() == 1; }));
    ASSERT_EQ(recorder_->features.size(), 1);
    ASSERT_EQ(recorder_->simpleFilter.size(), 1);
    ASSERT_EQ(recorder_->dpiFilter.size(), 1);
    for (const StatsThreadInfo& reply :
         {recorder_->features[0], recorder_->simpleFilter[0], recorder_->dpiFilter[0],
          recorder_->packetsTypeFilter[0]}) {
        EXPECT_STREQ(reply.firmwarePath, "/kept/by/the/reply");
        EXPECT_EQ(reply.updateProgress, 42);
    }
    NettlebeamApiDeviceFeatures features{};
    ASSERT_EQ(NettlebeamAPIGetDeviceFeatures(device, &features), 0);
    EXPECT_TRUE(sameBytes(&recorder_->features[0].features, &features, sizeof features));
    EXPECT_EQ(recorder_->simpleFilter[0].features.ppsDelay, 777);  // not fetched there
}

TEST_F(WorkerTest, PortSpeedsAreWrittenOnlyAfterTheFeaturesWereAccepted) {
    const int device = attach({"--type", "5"});
    startWorker();
    waitForArrival(device);
    settle(device);
    const StatsThreadInfo original = recorder_->features.last();

    StatsThreadInfo refused = original;
    refused.features.timestampInitSource = kInvalidInitSource;
    refused.portsSpeed.ports[0].halfDuplex10 = !original.portsSpeed.ports[0].halfDuplex10;
    refused.features.loopback = !original.features.loopback;
    post(worker_.get(), &StatsThread::slot_set_features, refused);
    settle(device);
    const StatsThreadInfo afterRefusal = recorder_->features.last();
    EXPECT_TRUE(
        sameBytes(&afterRefusal.portsSpeed, &original.portsSpeed, sizeof original.portsSpeed));
    EXPECT_EQ(afterRefusal.features.loopback, original.features.loopback);

    StatsThreadInfo accepted = refused;
    accepted.features.timestampInitSource = original.features.timestampInitSource;
    post(worker_.get(), &StatsThread::slot_set_features, accepted);
    settle(device);
    const StatsThreadInfo afterWrite = recorder_->features.last();
    EXPECT_EQ(afterWrite.portsSpeed.ports[0].halfDuplex10,
              accepted.portsSpeed.ports[0].halfDuplex10);
    EXPECT_EQ(afterWrite.features.loopback, accepted.features.loopback ? 1 : 0);
}

namespace {

// A capture name in an allocation big enough to be served by its own
// mapping, so that its release shows in the allocator's statistics.
constexpr std::size_t kNameAllocation = 48u << 20;

NettlebeamApiChar16* allocateCaptureName(const char16_t* text) {
    auto* name = static_cast<NettlebeamApiChar16*>(std::calloc(1, kNameAllocation));
    std::memcpy(name, text, (std::char_traits<char16_t>::length(text) + 1) * sizeof(char16_t));
    return name;
}

// Under AddressSanitizer the allocator is the sanitizer's, which keeps its own count.
std::size_t mappedBytes() {
#ifdef NETTLEBEAM_TEST_ASAN
    return __sanitizer_get_current_allocated_bytes();
#else
    return mallinfo2().hblkhd;
#endif
}

}  // namespace

TEST_F(WorkerTest, CaptureConfigurationReleasesTheNameWhateverTheLibraryAnswers) {
    const int capturing = attach({"--type", "13"});
    const int unable = attach({"--hwid", "0x77"});  // no capture capability
    startWorker();
    waitForArrival(capturing);
    waitForArrival(unable);

    for (int handle : {unable, capturing}) {
        StatsThreadInfo request = requestFor(handle);
        const std::size_t before = mappedBytes();
        request.captureConfig.fileName = allocateCaptureName(u"/tmp/worker-capture");
        request.captureConfig.maxCache = 64u << 20;
        ASSERT_GE(mappedBytes(), before + kNameAllocation / 2);
        post(worker_.get(), &StatsThread::slot_dd_set_config, request);
        settle(capturing);
        EXPECT_LT(mappedBytes(), before + kNameAllocation / 2)
            << "the name of device " << handle << " was not freed";
    }
    NettlebeamApiDiskDumpStatus status{};
    ASSERT_EQ(NettlebeamAPIDiskDumpGetStatus(capturing, &status), 0);
    EXPECT_EQ(status.maxCache, 64u << 20);
}

TEST_F(WorkerTest, CaptureFileAndStateEventsBecomeSignals) {
    const int device = attach({"--type", "13"});
    startWorker();
    waitForArrival(device);

    daemon_->event({"1", std::to_string(device), "--name", "/tmp/Überwachung-0001.pcap"});
    daemon_->event({"4", std::to_string(device), "--word", "1", "--error", "0"});
    daemon_->event({"4", std::to_string(device), "--word", "0", "--error", "2"});
    ASSERT_TRUE(waitFor([&] { return recorder_->captureStates.size() == 2; }));
    ASSERT_EQ(recorder_->captureFiles.size(), 1);
    EXPECT_EQ(recorder_->captureFiles[0].first, device);
    EXPECT_EQ(recorder_->captureFiles[0].second, QStringLiteral("/tmp/Überwachung-0001.pcap"));
    EXPECT_EQ(recorder_->captureStates[0].first, device);
    EXPECT_TRUE(recorder_->captureStates[0].second.enabled);
    EXPECT_EQ(recorder_->captureStates[0].second.error, 0);
    EXPECT_FALSE(recorder_->captureStates[1].second.enabled);
    EXPECT_EQ(recorder_->captureStates[1].second.error, -7);
}

TEST_F(WorkerTest, ADeviceThatCannotBeIdentifiedIsNeverAnnouncedNorFollowed) {
    const int hidden = attach({"--type", "13"});
    const int shown = attach({"--type", "13"});
    daemon_->inject({std::to_string(hidden), "0xCB202028", "--fail"});  // its MAC read
    startWorker();
    waitForArrival(shown);

    daemon_->event({"1", std::to_string(hidden), "--name", "/tmp/hidden.pcap"});
    daemon_->event({"1", std::to_string(shown), "--name", "/tmp/shown.pcap"});
    ASSERT_TRUE(waitFor([&] { return !recorder_->captureFiles.isEmpty(); }));
    settle(shown);
    ASSERT_EQ(recorder_->captureFiles.size(), 1);
    EXPECT_EQ(recorder_->captureFiles[0].first, shown);
    ASSERT_EQ(recorder_->added.size(), 1);
    EXPECT_EQ(recorder_->added[0].handle, shown);
}

TEST_F(WorkerTest, SntpResynchronisationSetsTheDeviceClockOrReportsFailure) {
    UdpResponder server([](int, const Datagram&) {
        return ScriptedReply{sntpServerReply(kNtpSecondsAt2024, 0x80000000u), false};
    });
    qputenv("NETTLEBEAM_NTP_SERVER", QByteArray("127.0.0.1:") + QByteArray::number(server.port()));
    const int device = attach({"--type", "12", "--hw-fw", "300"});
    startWorker();
    waitForArrival(device);

    StatsThreadInfo request = requestFor(device);
    request.timingSet.source = 5;
    post(worker_.get(), &StatsThread::slot_timing_resync, request);
    settle(device);
    EXPECT_EQ(server.requestCount(), 1);
    NettlebeamApiTimingStatus timing{};
    ASSERT_EQ(NettlebeamAPIGetTimingStatus(device, &timing), 0);
    EXPECT_EQ(timing.rtcYear, 2024);
    EXPECT_EQ(timing.rtcMonth, 1);
    EXPECT_EQ(timing.rtcDay, 1);
    EXPECT_EQ(timing.rtcHour, 0);
    EXPECT_TRUE(recorder_->sntpFailures.isEmpty());

    // Other sources go to the device as given, without any network access.
    request.timingSet = {4, kUnixSecondsAt2024 + 86400 * 40, kUnixSecondsAt2024 + 86400 * 40};
    post(worker_.get(), &StatsThread::slot_timing_resync, request);
    settle(device);
    EXPECT_EQ(server.requestCount(), 1);
    ASSERT_EQ(NettlebeamAPIGetTimingStatus(device, &timing), 0);
    EXPECT_EQ(timing.rtcMonth, 2);
    EXPECT_EQ(timing.rtcDay, 10);
    qunsetenv("NETTLEBEAM_NTP_SERVER");
}

TEST_F(WorkerTest, SntpFailureLeavesTheDeviceClockAlone) {
    UdpResponder server([](int, const Datagram&) {
        // 0.1 s into the second every time: too close to the boundary.
        return ScriptedReply{sntpServerReply(kNtpSecondsAt2024, 429496730u), false};
    });
    qputenv("NETTLEBEAM_NTP_SERVER", QByteArray("127.0.0.1:") + QByteArray::number(server.port()));
    const int device = attach({"--type", "12", "--hw-fw", "300"});
    startWorker();
    waitForArrival(device);

    StatsThreadInfo request = requestFor(device);
    request.timingSet.source = 5;
    post(worker_.get(), &StatsThread::slot_timing_resync, request);
    ASSERT_TRUE(waitFor([&] { return !recorder_->sntpFailures.isEmpty(); }));
    EXPECT_EQ(recorder_->sntpFailures,
              QStringList{QStringLiteral("Failed to get time from SNTP server")});
    EXPECT_EQ(server.requestCount(), 10);
    NettlebeamApiTimingStatus timing{};
    ASSERT_EQ(NettlebeamAPIGetTimingStatus(device, &timing), 0);
    EXPECT_NE(timing.rtcYear, 2024);
    EXPECT_EQ(timing.rtcYear, currentUtcYear());
    qunsetenv("NETTLEBEAM_NTP_SERVER");
}

TEST_F(WorkerTest, DestructionUninitialisesTheLibraryAndANewWorkerStartsCleanly) {
    const int device = attach({"--type", "13"});
    startWorker();
    waitForArrival(device);
    stopWorker();
    NettlebeamApiDeviceType type = 0;
    EXPECT_EQ(NettlebeamAPIGetDeviceType(device, &type), -4);  // the list was emptied

    // The first worker's callbacks were withdrawn: the second one hears of
    // the device itself.
    startWorker();
    const StatsThreadInfo again = waitForArrival(device);
    EXPECT_EQ(again.type, 13u);
    daemon_->detach(device);
    ASSERT_TRUE(waitFor([&] { return recorder_->removed.size() == 1; }));
}
