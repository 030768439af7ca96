// The collectors on hand-made device readings: units, labels, and parts left
// out when a device does not report them.
#include "collectors.h"

#include <gtest/gtest.h>

#include <cstring>

namespace nettlebeam::exporter {
namespace {

std::string render(const DeviceSample& sample, CounterTracker& tracker) {
    std::string text;
    writeFamilies(collectDevice(sample, tracker).families(), text);
    return text;
}

DeviceSample gigabitDevice() {
    DeviceSample s;
    s.mac = "00:1b:c5:0a:00:01";
    s.type = DeviceTypeGigabitGen2Gps;
    s.versions = NettlebeamApiVersions{{1, 2, 3, 4}, {0, 1, 3, 62}, 300};
    NettlebeamApiLinkStatus link{};
    link.linkValid = 1;
    link.portCount = 2;
    link.ports[0] = {1, NETTLEBEAM_LINK_SPEED_1000M, 0};
    link.ports[1] = {1, NETTLEBEAM_LINK_SPEED_NO_LINK, 0};
    s.link = link;
    NettlebeamApiStatistics statistics{};
    statistics.version = 1;
    statistics.swDropped = 7;
    statistics.data.v1.linkUpTime = 5500;
    statistics.data.v1.portA.totalValidPackets = 900;
    statistics.data.v1.portA.totalInvalidPackets = 100;
    statistics.data.v1.portA.totalBytes = 64000;
    statistics.data.v1.portA.moreThan1518 = 3;
    statistics.data.v1.trailer[0] = 0x10;  // 16 ms since power-on
    s.statistics = statistics;
    NettlebeamApiTimingStatus timing{};
    timing.gpsFix = 2;
    timing.timeSource = 2;
    timing.ppsDeviation = -25;
    s.timing = timing;
    return s;
}

TEST(Collectors, GigabitDeviceInBaseUnitsWithDeviceAndPortLabels) {
    CounterTracker tracker;
    std::string text = render(gigabitDevice(), tracker);
    const char* d = "device=\"00:1b:c5:0a:00:01\"";
    auto has = [&](const std::string& line) {
        EXPECT_NE(text.find(line + "\n"), std::string::npos) << line << "\nin:\n" << text;
    };
    has(std::string("nettlebeam_device_info{") + d +
        ",type=\"gigabit\",model=\"Gigabit Gen2 GPS\",sw_firmware=\"1.2.3.4\","
        "hw_firmware=\"300\",driver_version=\"0.1.3.62\"} 1");
    has(std::string("nettlebeam_port_link_up{") + d + ",port=\"A\"} 1");
    has(std::string("nettlebeam_port_link_up{") + d + ",port=\"B\"} 0");
    has(std::string("nettlebeam_port_link_speed_bytes{") + d + ",port=\"A\"} 125000000");
    has(std::string("nettlebeam_port_link_speed_bytes{") + d + ",port=\"B\"} 0");
    // Valid and invalid frames together: what arrived on the wire.
    has(std::string("nettlebeam_port_received_frames_total{") + d + ",port=\"A\"} 1000");
    has(std::string("nettlebeam_port_received_bytes_total{") + d + ",port=\"A\"} 64000");
    has(std::string("nettlebeam_port_frames_by_size_total{") + d +
        ",port=\"A\",size=\"over_1518\"} 3");
    has(std::string("nettlebeam_device_host_drops_total{") + d + "} 7");
    has(std::string("nettlebeam_device_link_up_seconds_total{") + d + "} 5");
    has(std::string("nettlebeam_gps_lock{") + d + "} 1");
    has(std::string("nettlebeam_timing_pps_offset_seconds{") + d + "} -2.5e-08");
    // Parts the device did not report are absent, not zero.
    EXPECT_EQ(text.find("nettlebeam_capture_"), std::string::npos);
    EXPECT_EQ(text.find("nettlebeam_transceiver_"), std::string::npos);
    EXPECT_EQ(text.find("nettlebeam_programmable_matches_total"), std::string::npos);
}

TEST(Collectors, NoGpsLockFamilyWithoutAReceiverAndSixteenProgrammableCounters) {
    CounterTracker tracker;
    DeviceSample s = gigabitDevice();
    s.timing->gpsModuleAbsent = 1;
    NettlebeamApiStatistics statistics{};
    statistics.version = 2;
    for (int i = 0; i < NETTLEBEAM_PROGRAMMABLE_COUNTERS; ++i)
        statistics.data.v2.counters[i] = 100 + i;
    s.statistics = statistics;
    std::string text = render(s, tracker);
    EXPECT_EQ(text.find("nettlebeam_gps_lock"), std::string::npos);
    EXPECT_NE(text.find("nettlebeam_timing_source{"), std::string::npos);
    EXPECT_NE(text.find("nettlebeam_programmable_matches_total{device=\"00:1b:c5:0a:00:01\","
                        "counter=\"0\"} 100\n"),
              std::string::npos);
    EXPECT_NE(text.find("counter=\"15\"} 115\n"), std::string::npos);
    EXPECT_EQ(text.find("nettlebeam_port_received_frames_total"), std::string::npos);
}

TEST(Collectors, TransceiverDiagnosticsInBaseUnitsWithTheModulesOwnThresholdsAndFlags) {
    CounterTracker tracker;
    DeviceSample s;
    s.mac = "00:1b:c5:0a:00:02";
    s.type = DeviceTypeTenGigabit;
    NettlebeamApiLinkStatus link{};
    link.sfpValid = 1;
    link.sfpCount = 2;
    NettlebeamApiSfpModule& module = link.sfp[0];
    module.present = 1;
    module.diagnosticsType = 1;
    module.temperature = 41.5f;
    module.txBias = 6.5f;    // mA
    module.rxPower = 0.25f;  // mW
    module.lowWarning.rxPower = 0.5f;
    module.highWarning.temperature = 70;
    // Receive power low warning (bit 5 + 4) and loss of signal.
    module.alarmFlags = (1u << 9) | (1u << 12);
    link.sfp[1].present = 0;  // empty cage B
    s.link = link;
    std::string text = render(s, tracker);
    auto has = [&](const std::string& line) {
        EXPECT_NE(text.find(line + "\n"), std::string::npos) << line << "\nin:\n" << text;
    };
    const std::string a = "device=\"00:1b:c5:0a:00:02\",port=\"A\"";
    has("nettlebeam_transceiver_temperature_celsius{" + a + "} 41.5");
    has("nettlebeam_transceiver_laser_bias_amperes{" + a + "} 0.0065");
    has("nettlebeam_transceiver_receive_power_watts{" + a + "} 0.00025");
    has("nettlebeam_transceiver_receive_power_threshold_watts{" + a +
        ",level=\"low_warning\"} 5e-04");
    has("nettlebeam_transceiver_temperature_threshold_celsius{" + a +
        ",level=\"high_warning\"} 70");
    has("nettlebeam_transceiver_warning{" + a + ",quantity=\"receive_power\"} 1");
    has("nettlebeam_transceiver_warning{" + a + ",quantity=\"temperature\"} 0");
    has("nettlebeam_transceiver_alarm{" + a + ",quantity=\"receive_power\"} 0");
    has("nettlebeam_transceiver_rx_loss_of_signal{" + a + "} 1");
    EXPECT_EQ(text.find("port=\"B\""), std::string::npos);  // no module, no diagnostics
}

TEST(Collectors, CaptureTotalsAreCountersAndFramesWrittenOnlyWhenTheDriverCountsThem) {
    CounterTracker tracker;
    DeviceSample s = gigabitDevice();
    NettlebeamApiDiskDumpStatus capture{};
    capture.enabled = 1;
    capture.filesWritten = 3;
    capture.bytesWritten = 90000;
    s.capture = capture;
    s.captureFramesWritten = 1200;
    std::string text = render(s, tracker);
    const std::string d = "{device=\"00:1b:c5:0a:00:01\"}";
    auto has = [&](const std::string& line) {
        EXPECT_NE(text.find(line + "\n"), std::string::npos) << line << "\nin:\n" << text;
    };
    has("# TYPE nettlebeam_capture_frames_written_total counter");
    has("nettlebeam_capture_frames_written_total" + d + " 1200");
    has("nettlebeam_capture_files_written_total" + d + " 3");
    has("nettlebeam_capture_written_bytes_total" + d + " 90000");
    has("nettlebeam_capture_running" + d + " 1");

    // A driver that does not answer the count: left out, not reported as 0.
    s.captureFramesWritten.reset();
    text = render(s, tracker);
    EXPECT_EQ(text.find("nettlebeam_capture_frames_written_total"), std::string::npos) << text;
    has("nettlebeam_capture_files_written_total" + d + " 3");
}

TEST(Collectors, ADeviceRestartRestartsItsCounterSeriesFromZero) {
    CounterTracker tracker;
    DeviceSample s = gigabitDevice();
    s.statistics->data.v1.trailer[1] = 0x10;  // 4 s since power-on
    render(s, tracker);
    s.statistics->data.v1.trailer[1] = 0;  // restarted: 16 ms since power-on
    s.statistics->data.v1.portA.totalValidPackets = 5000;
    std::string text = render(s, tracker);
    EXPECT_NE(text.find("nettlebeam_port_received_frames_total{device=\"00:1b:c5:0a:00:01\","
                        "port=\"A\"} 0\n"),
              std::string::npos)
        << text;
}

}  // namespace
}  // namespace nettlebeam::exporter
