// The whole path: devices with known traffic in a private nettlebeamd, the
// exporter on a free loopback port, and a real Prometheus scraping it every
// second and evaluating the shipped alerting rules.
#include <NettlebeamAPI.h>
#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>

#include "nettlebeam_testsupport.h"
#include "prometheus_server.h"
#include "running_exporter.h"

namespace nettlebeam::exporter::testing {
namespace {

using testsupport::Daemon;

const std::string kGigabit = "00:1b:c5:0a:00:01";
const std::string kTenGigabit = "00:1b:c5:0a:00:02";
constexpr double kFramesPerSecond = 2000;

bool hasResults(const PrometheusServer& prometheus, const std::string& expression, size_t count) {
    return prometheus.query(expression).size() == count;
}

std::string describe(const PrometheusServer& prometheus, const std::string& expression) {
    std::string text = expression + ":\n";
    for (const QueryResult& result : prometheus.query(expression)) {
        for (const auto& [name, value] : result.labels) text += name + "=" + value + " ";
        text += "-> " + std::to_string(result.value) + "\n";
    }
    return text;
}

// Port A's frames in a scrape of the exporter.
double portAFrames(const std::string& scrape) {
    std::smatch match;
    std::regex line("nettlebeam_port_received_frames_total\\{device=\"" + kGigabit +
                    "\",port=\"A\"\\} ([0-9]+)");
    return std::regex_search(scrape, match, line) ? std::stod(match[1]) : -1;
}

// Port A's valid and invalid frames in `beamctl statistics`.
double beamctlPortAFrames(const std::string& report) {
    std::string portA = report.substr(report.find("Port A"));
    double total = 0;
    for (const char* label : {"Total valid packets", "Total invalid packets"}) {
        std::smatch match;
        if (!std::regex_search(portA, match, std::regex(std::string(label) + " *: *([0-9]+)")))
            return -1;
        total += std::stod(match[1]);
    }
    return total;
}

double single(const PrometheusServer& prometheus, const std::string& expression) {
    auto results = prometheus.query(expression);
    return results.size() == 1 ? results[0].value : std::nan("");
}

TEST(ExporterWithPrometheus, PromtoolFindsNothingToSayAboutAScrape) {
    Daemon daemon;
    daemon.attach({"--type", "5", "--mac", kGigabit, "--traffic", "rate=500"});
    daemon.attach({"--type", "12", "--mac", kTenGigabit});
    RunningExporter exporter(daemon);
    std::string text;
    ASSERT_TRUE(waitUntil([&] {
        text = exporter.scrape();
        return text.find("nettlebeam_transceiver_temperature_celsius{device=\"" + kTenGigabit) !=
                   std::string::npos &&
               text.find("nettlebeam_port_received_frames_total{device=\"" + kGigabit) !=
                   std::string::npos &&
               text.find("nettlebeam_capture_frames_written_total{device=\"" + kGigabit) !=
                   std::string::npos;
    })) << text;
    std::string file = daemon.folder() + "/scrape.txt";
    std::ofstream(file) << text;
    auto check = testsupport::runProcess(
        {"/bin/sh", "-c", std::string(NETTLEBEAM_PROMTOOL_PATH) + " check metrics < " + file});
    EXPECT_EQ(check.exitStatus, 0) << check.out << check.err;
    EXPECT_EQ(check.out + check.err, "");
}

TEST(ExporterWithPrometheus, WatchesEveryDeviceAtItsTrafficRateThroughDetachAndDaemonRestart) {
    Daemon daemon;
    daemon.attach(
        {"--type", "5", "--mac", kGigabit, "--traffic", "rate=2000,crc=0,jabber=0,collision=0"});
    int tenGigabit = daemon.attach({"--type", "12", "--mac", kTenGigabit});
    RunningExporter exporter(daemon);
    PrometheusServer prometheus(daemon.folder() + "/prometheus", exporter.port());

    ASSERT_TRUE(waitUntil([&] { return hasResults(prometheus, "nettlebeam_device_info", 2); }));
    // Both ports of the copper device, both modules of the transceiver one.
    ASSERT_TRUE(waitUntil([&] {
        return hasResults(prometheus, "nettlebeam_port_link_up{device=\"" + kGigabit + "\"} == 1",
                          2);
    }));
    EXPECT_TRUE(waitUntil([&] {
        return hasResults(prometheus,
                          "nettlebeam_transceiver_present{device=\"" + kTenGigabit + "\"}", 2);
    }));

    // Ten seconds of samples, then the rate Prometheus computes per port.
    const std::string frames = "nettlebeam_port_received_frames_total{device=\"" + kGigabit + "\"}";
    ASSERT_TRUE(waitUntil([&] {
        auto counts = prometheus.query("count_over_time(" + frames + "[10s])");
        return counts.size() == 2 && counts[0].value >= 10 && counts[1].value >= 10;
    }));
    auto rates = prometheus.query("rate(" + frames + "[10s])");
    ASSERT_EQ(rates.size(), 2u);
    for (const QueryResult& rate : rates) {
        EXPECT_NEAR(rate.value, kFramesPerSecond, kFramesPerSecond * 0.1)
            << "port " << rate.labels.at("port");
    }

    // A detached device's series go stale; the other stays.
    daemon.detach(tenGigabit);
    EXPECT_TRUE(waitUntil([&] {
        return hasResults(prometheus, "nettlebeam_device_info{device=\"" + kTenGigabit + "\"}", 0);
    }));
    EXPECT_TRUE(hasResults(prometheus, "nettlebeam_device_info{device=\"" + kGigabit + "\"}", 1));

    // The totals are beamctl's, read within the same second.
    auto statistics = testsupport::runProcess({BEAMCTL_PATH, "statistics", "--device=0"},
                                              std::chrono::seconds(30), {daemon.controlEnv()});
    double exported = portAFrames(exporter.scrape());
    double counted = beamctlPortAFrames(statistics.out);
    EXPECT_GT(counted, 0) << statistics.out;
    EXPECT_NEAR(exported, counted, kFramesPerSecond) << statistics.out;

    // The driver gone: nettlebeam_up drops and the scrape still succeeds.
    daemon.stop();
    EXPECT_TRUE(waitUntil([&] { return single(prometheus, "nettlebeam_up") == 0; }));
    EXPECT_EQ(single(prometheus, "up{job=\"nettlebeam\"}"), 1);
    daemon.restart();
    EXPECT_TRUE(waitUntil([&] { return single(prometheus, "nettlebeam_up") == 1; }));
}

// The shipped rules with their `for:` durations cut to a second, so the test
// does not sit out the minutes a team wants before being woken.
std::string rulesWithShortDurations(const std::string& folder) {
    std::ifstream in(NETTLEBEAM_ALERTS_FILE);
    std::stringstream text;
    text << in.rdbuf();
    std::string rules =
        std::regex_replace(text.str(), std::regex("for: [0-9]+[smh]"), std::string("for: 1s"));
    std::string path = folder + "/alerts.yml";
    std::ofstream(path) << rules;
    return path;
}

TEST(ExporterWithPrometheus, LinkDownAndDeviceGoneAlertsFire) {
    Daemon daemon;
    daemon.attach({"--type", "5", "--mac", kGigabit, "--traffic", "rate=100"});
    int leaving = daemon.attach({"--type", "12", "--mac", kTenGigabit});
    RunningExporter exporter(daemon);
    std::filesystem::create_directories(daemon.folder() + "/prometheus");
    PrometheusServer prometheus(daemon.folder() + "/prometheus", exporter.port(),
                                rulesWithShortDurations(daemon.folder() + "/prometheus"));
    ASSERT_TRUE(
        waitUntil([&] { return hasResults(prometheus, "nettlebeam_port_link_up == 1", 2); }));
    EXPECT_TRUE(hasResults(prometheus, "ALERTS", 0)) << describe(prometheus, "ALERTS");

    // Port A disabled through the library, as the manager does it.
    daemon.exportControlPath();
    ASSERT_EQ(NettlebeamAPIInitialize(), 0);
    NettlebeamApiDeviceHandle handle = -1;
    ASSERT_TRUE(waitUntil([&] {
        NettlebeamApiDevicesList* list = NettlebeamAPIGetDevicesList();
        if (list != nullptr && list->first != nullptr)
            handle = static_cast<NettlebeamApiDeviceHandle>(list->first->handle);
        NettlebeamApiDeviceListFree(list);
        return handle >= 0;
    }));
    NettlebeamApiDeviceFeatures features{};
    ASSERT_EQ(NettlebeamAPIGetDeviceFeatures(handle, &features), 0);
    features.disablePortA = 1;
    ASSERT_EQ(NettlebeamAPISetDeviceFeatures(handle, features), 0);
    NettlebeamAPIUninitialize();

    EXPECT_TRUE(waitUntil([&] {
        auto firing =
            prometheus.query("ALERTS{alertname=\"NettlebeamLinkDown\",alertstate=\"firing\"}");
        // In inline mode both ports share the one link, so B may go down too.
        for (QueryResult& alert : firing)
            if (alert.labels["port"] == "A" && alert.labels["device"] == kGigabit) return true;
        return false;
    })) << describe(prometheus, "ALERTS")
        << describe(prometheus, "nettlebeam_port_link_up");

    // A device that leaves while its host's exporter answers.
    daemon.detach(leaving);
    EXPECT_TRUE(waitUntil([&] {
        auto firing =
            prometheus.query("ALERTS{alertname=\"NettlebeamDeviceGone\",alertstate=\"firing\"}");
        return firing.size() == 1 && firing[0].labels["device"] == kTenGigabit;
    })) << describe(prometheus, "ALERTS");
}

}  // namespace
}  // namespace nettlebeam::exporter::testing
