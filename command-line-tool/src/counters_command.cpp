#include <cstdio>
#include <optional>
#include <string>
#include <vector>

#include "codec/power_on_counters.h"
#include "command_line.h"
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

// Writes the power-on definition of counter `number`, or of all sixteen
// when it is absent.
int resetCounters(const CommandLine& line, NettlebeamApiDeviceHandle handle) {
    const std::optional<int> number = present(line.args.resetCounter)
                                          ? std::optional(valueOf(line.args.resetCounter))
                                          : std::nullopt;
    if (number && (*number < 1 || *number > NETTLEBEAM_PROGRAMMABLE_COUNTERS)) {
        std::fputs("Failed to reset Nettlebeam counter\n", line.out);
        std::fprintf(line.err, "beamctl: --counter: %d is not between 1 and 16\n", *number);
        return kFailure;
    }
    for (const NettlebeamApiCounterV2& definition : nettlebeam::codec::powerOnCounters()) {
        if (number && definition.index != *number - 1) continue;
        if (const std::int32_t status = NettlebeamAPISetCounterV2(handle, definition);
            status != 0) {
            std::fprintf(line.out, "Failed to reset Nettlebeam counter %02d\n",
                         definition.index + 1);
            explainFailure(line.err, handle, status);
            return kFailure;
        }
    }
    return 0;
}

enum class CountersAction { Show, Set, Reset };

// The device keeps no counter definition across a restart, and the library
// has no request to make it: a --save that did nothing would let a script
// believe its definitions survive.
int refuseSave(const CommandLine& line) {
    std::fputs("Failed to save Nettlebeam counters\n", line.out);
    std::fputs(
        "beamctl: --save: the device cannot keep counter definitions across restarts; it "
        "starts again from its power-on definitions\n",
        line.err);
    return kFailure;
}

}  // namespace

int runCounters(const CommandLine& line) {
    Arguments& args = line.args;
    if (line.argc < 3 || !parses(args.countersTable, 2, line.argv + 1)) {
        return printUsage(line.out, "beamctl counters", args.countersTable);
    }
    const CountersAction action = sameWord(line.argv[2], "set")     ? CountersAction::Set
                                  : sameWord(line.argv[2], "reset") ? CountersAction::Reset
                                                                    : CountersAction::Show;
    ArgTable& table = action == CountersAction::Set     ? args.countersSetTable
                      : action == CountersAction::Reset ? args.countersResetTable
                                                        : args.deviceJsonTable;
    const char* heading = action == CountersAction::Set     ? "beamctl counters set"
                          : action == CountersAction::Reset ? "beamctl counters reset"
                                                            : "beamctl counters show";
    if (!line.help && action != CountersAction::Show && hasWord(line, "--save")) {
        return refuseSave(line);
    }
    if (line.help || !parses(table, line.argc - 2, line.argv + 2)) {
        return printUsage(line.out, heading, table);
    }
    const bool json = action == CountersAction::Show && present(args.json);
    const auto handle = startDeviceCommand(line, args.device, !json);
    if (!handle) return kFailure;
    const LibrarySession session;
    if (!hasCounters(line, *handle)) return kFailure;
    switch (action) {
        case CountersAction::Set:
            return setCounter(line, *handle);
        case CountersAction::Reset:
            return resetCounters(line, *handle);
        case CountersAction::Show:
            break;
    }
    return showCounters(line, *handle, json);
}

}  // namespace beamctl
