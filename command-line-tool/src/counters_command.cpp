#include <cstdio>
#include <string>
#include <vector>

#include "commands.h"
#include "counter_definition.h"
#include "counter_edit.h"
#include "device_session.h"
#include "json.h"
#include "text.h"
#include "usage.h"

namespace beamctl {
namespace {

bool hasCounters(const CommandLine& line, NettlebeamApiDeviceHandle handle) {
    NettlebeamApiDeviceType type = 0;
    if (const std::int32_t status = NettlebeamAPIGetDeviceType(handle, &type); status != 0) {
        std::fputs("Failed to get device type\n", line.out);
        explainFailure(line.err, handle, status);
        return false;
    }
    if ((NettlebeamAPIGetDeviceCapabilities(type) & CapStatisticsV2) != 0) return true;
    std::fputs("Your device does not have programmable counters\n", line.out);
    std::fputs("beamctl: only ten-gigabit models count with programmable counters\n", line.err);
    return false;
}

int showCounters(const CommandLine& line, NettlebeamApiDeviceHandle handle, bool json) {
    std::vector<std::string> objects;
    std::string text;
    for (std::int32_t index = 0; index < NETTLEBEAM_PROGRAMMABLE_COUNTERS; ++index) {
        NettlebeamApiCounterV2 counter{};
        if (const std::int32_t status = NettlebeamAPIGetCounterV2(handle, index, &counter);
            status != 0) {
            std::fprintf(line.out, "Failed to get Nettlebeam counter %02d\n", index + 1);
            explainFailure(line.err, handle, status);
            return kFailure;
        }
        objects.push_back(counterJson(counter, index + 1));
        text += format("Counter %02d : %s\n", index + 1, counterDefinition(counter).c_str());
    }
    if (json) {
        JsonObject report;
        report.addRaw("counters", jsonArray(objects));
        std::fprintf(line.out, "%s\n", report.text().c_str());
    } else {
        std::fputs(text.c_str(), line.out);
    }
    return 0;
}

CounterChange counterChange(const Arguments& args) {
    CounterChange change;
    const auto given = [](const arg_str* option) {
        return option->count > 0 ? std::optional<std::string>(option->sval[0]) : std::nullopt;
    };
    change.mode = given(args.countMode);
    change.ports = given(args.countPorts);
    for (std::size_t i = 0; i < change.conditions.size(); ++i) {
        change.conditions[i] = given(args.countConditions[i]);
    }
    change.size = given(args.countSize);
    change.address = given(args.countAddress);
    return change;
}

int setCounter(const CommandLine& line, NettlebeamApiDeviceHandle handle) {
    const int number = line.args.counterNumber->ival[0];
    const std::string failed = format("Failed to set Nettlebeam counter %02d\n", number);
    if (number < 1 || number > NETTLEBEAM_PROGRAMMABLE_COUNTERS) {
        std::fputs("Failed to set Nettlebeam counter\n", line.out);
        std::fprintf(line.err, "beamctl: --counter: %d is not between 1 and 16\n", number);
        return kFailure;
    }
    const std::int32_t index = number - 1;
    NettlebeamApiCounterV2 counter{};
    if (const std::int32_t status = NettlebeamAPIGetCounterV2(handle, index, &counter);
        status != 0) {
        std::fprintf(line.out, "Failed to get Nettlebeam counter %02d\n", number);
        explainFailure(line.err, handle, status);
        return kFailure;
    }
    if (const auto refused = applyCounterChange(counter, counterChange(line.args))) {
        std::fputs(failed.c_str(), line.out);
        std::fprintf(line.err, "beamctl: %s\n", refused->c_str());
        return kFailure;
    }
    counter.index = index;
    if (const std::int32_t status = NettlebeamAPISetCounterV2(handle, counter); status != 0) {
        std::fputs(failed.c_str(), line.out);
        explainFailure(line.err, handle, status);
        return kFailure;
    }
    return 0;
}

}  // namespace

int runCounters(const CommandLine& line) {
    Arguments& args = line.args;
    if (line.argc < 3 || !parses(args.countersTable, 2, line.argv + 1)) {
        return printUsage(line.out, "beamctl counters", args.countersTable);
    }
    const bool set = sameWord(line.argv[2], "set");
    ArgTable& table = set ? args.countersSetTable : args.deviceJsonTable;
    if (line.help || !parses(table, line.argc - 2, line.argv + 2)) {
        return printUsage(line.out, set ? "beamctl counters set" : "beamctl counters show", table);
    }
    const bool json = !set && present(args.json);
    const auto handle = startDeviceCommand(line, args.device, !json);
    if (!handle) return kFailure;
    const LibrarySession session;
    if (!hasCounters(line, *handle)) return kFailure;
    if (set) return setCounter(line, *handle);
    return showCounters(line, *handle, json);
}

}  // namespace beamctl
