#include <cstdio>
#include <string>
#include <vector>

#include "command_line.h"
#include "counter_definition.h"
#include "device_details.h"
#include "device_session.h"
#include "rates.h"
#include "reasons.h"
#include "reports.h"
#include "statistics_json.h"
#include "usage.h"

namespace beamctl {
namespace {

// A day; longer intervals would overflow the milliseconds of the wait.
constexpr int kMaxInterval = 86400;

// Reads one record; prints the failure and its reason when it cannot.
bool readStatistics(const CommandLine& line, NettlebeamApiDeviceHandle handle,
                    NettlebeamApiStatistics& statistics, std::int32_t& status) {
    status = NettlebeamAPIGetStatistics(handle, &statistics);
    if (status == 0) return true;
    std::fputs("Failed to get statistics\n", line.out);
    explainFailure(line.err, handle, status);
    return false;
}

// Prints one report; returns false after printing why no more can follow.
bool printStatistics(const CommandLine& line, NettlebeamApiDeviceHandle handle,
                     std::int32_t& status) {
    std::FILE* out = line.out;
    NettlebeamApiStatistics statistics{};
    if (!readStatistics(line, handle, statistics, status)) return false;
    const std::optional<std::string> report = statisticsReport(statistics);
    if (!report) {
        std::fputs("Unsupported statistics version\n", out);
        status = kFailure;
        return false;
    }
    std::fputs(report->c_str(), out);
    NettlebeamApiDiskDumpStatus capture{};
    status = NettlebeamAPIDiskDumpGetStatus(handle, &capture);
    if (status == 0) std::fputs(captureSummary(capture).c_str(), out);
    std::fflush(out);
    return true;
}

// The sixteen definitions of a format-2 device; empty when one cannot be read.
std::vector<std::string> counterDefinitions(NettlebeamApiDeviceHandle handle) {
    std::vector<std::string> definitions;
    for (std::int32_t index = 0; index < NETTLEBEAM_PROGRAMMABLE_COUNTERS; ++index) {
        NettlebeamApiCounterV2 counter{};
        if (NettlebeamAPIGetCounterV2(handle, index, &counter) != 0) return {};
        definitions.push_back(counterDefinition(counter));
    }
    return definitions;
}

// Each port's link, or none when the device cannot say.
std::vector<std::optional<NettlebeamApiPortLink>> readLinks(NettlebeamApiDeviceHandle handle) {
    NettlebeamApiLinkStatus status{};
    if (NettlebeamAPIGetLinkStatus(handle, &status) != 0 || status.linkValid == 0) return {};
    std::vector<std::optional<NettlebeamApiPortLink>> links;
    for (int i = 0; i < 2; ++i) {
        links.push_back(i < status.portCount ? std::optional(status.ports[i]) : std::nullopt);
    }
    return links;
}

struct ScriptOptions {
    bool json = false;
    bool rates = false;
    bool continuous = false;
    std::uint32_t delayMs = 1000;
    std::uint32_t intervalMs = 1000;
};

void printRates(const CommandLine& line, NettlebeamApiDeviceHandle handle,
                const ScriptOptions& options, const NettlebeamApiStatistics& before,
                const NettlebeamApiStatistics& after, const std::vector<std::string>& definitions) {
    const double seconds = secondsBetween(before, after).value_or(0);
    if (const auto ports = portRates(before, after)) {
        const std::vector<std::optional<NettlebeamApiPortLink>> links = readLinks(handle);
        if (options.json) {
            std::fprintf(line.out, "%s\n", portRatesJson(after, seconds, *ports, links).c_str());
            return;
        }
        for (std::size_t i = 0; i < ports->size(); ++i) {
            const auto link = i < links.size() ? links[i] : std::nullopt;
            std::fputs(portRatesLine((*ports)[i], link ? linkText(*link) : "unknown").c_str(),
                       line.out);
        }
        return;
    }
    if (const auto counters = counterRates(before, after)) {
        if (options.json) {
            std::fprintf(line.out, "%s\n",
                         counterRatesJson(after, seconds, *counters, definitions).c_str());
            return;
        }
        for (std::size_t i = 0; i < counters->size(); ++i) {
            std::fprintf(line.out, "Counter %02zu : %14.1f /s  %s\n", i + 1, (*counters)[i],
                         i < definitions.size() ? definitions[i].c_str() : "");
        }
    }
}

// `--rates` and `--json`: one report (or one interval of rates) per line or
// block, repeated with --continuous.
int runScripted(const CommandLine& line, NettlebeamApiDeviceHandle handle,
                const ScriptOptions& options) {
    std::int32_t status = 0;
    NettlebeamApiStatistics previous{};
    if (!readStatistics(line, handle, previous, status)) return status;
    if (previous.version != 1 && previous.version != 2) {
        std::fputs("Unsupported statistics version\n", line.out);
        return kFailure;
    }
    const std::vector<std::string> definitions =
        previous.version == 2 ? counterDefinitions(handle) : std::vector<std::string>{};
    for (;;) {
        if (!options.rates) {
            NettlebeamApiDiskDumpStatus capture{};
            status = NettlebeamAPIDiskDumpGetStatus(handle, &capture);
            std::fprintf(
                line.out, "%s\n",
                statisticsJson(previous, definitions, status == 0 ? &capture : nullptr).c_str());
            std::fflush(line.out);
            if (!options.continuous) return status;
            NettlebeamApiSleepMs(options.delayMs);
            if (!readStatistics(line, handle, previous, status)) return status;
            continue;
        }
        NettlebeamApiSleepMs(options.intervalMs);
        NettlebeamApiStatistics current{};
        if (!readStatistics(line, handle, current, status)) return status;
        printRates(line, handle, options, previous, current, definitions);
        std::fflush(line.out);
        if (!options.continuous) return 0;
        previous = current;
    }
}

}  // namespace

int runStatistics(const CommandLine& line) {
    Arguments& args = line.args;
    const bool scripted = hasWord(line, "--rates") || hasWord(line, "--json");
    ArgTable& table = scripted ? args.statisticsScriptTable : args.statisticsTable;
    if (line.argc < 3 || line.help || !parses(table, line.argc - 1, line.argv + 1) ||
        valueOf(args.delay) < 0 ||
        (scripted && (valueOf(args.interval) <= 0 || valueOf(args.interval) > kMaxInterval))) {
        if (scripted && !line.help) {
            const std::vector<std::string> words(line.argv + 2, line.argv + line.argc);
            if (const auto hint = detachedValueHint(words, {"interval", "delay"})) {
                std::fprintf(line.err, "beamctl: %s\n", hint->c_str());
            }
        }
        return printUsage(line.out, "beamctl statistics", table);
    }
    ScriptOptions options;
    options.json = present(args.json);
    options.rates = present(args.rates);
    options.continuous = present(args.continuous);
    options.delayMs = static_cast<std::uint32_t>(valueOf(args.delay));
    options.intervalMs = static_cast<std::uint32_t>(valueOf(args.interval)) * 1000u;
    const auto handle = startDeviceCommand(line, args.device, !options.json);
    if (!handle) return kFailure;
    const LibrarySession session;
    if (scripted) return runScripted(line, *handle, options);
    std::int32_t status = 0;
    while (printStatistics(line, *handle, status) && options.continuous) {
        NettlebeamApiSleepMs(options.delayMs);
    }
    return status;
}

}  // namespace beamctl
