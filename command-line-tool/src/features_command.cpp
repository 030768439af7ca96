#include <cstdio>

#include "command_line.h"
#include "device_session.h"
#include "features_edit.h"
#include "reports.h"
#include "usage.h"

namespace beamctl {
namespace {

enum class FeaturesAction { Set, Clear, Save, Show };

const char* headingOf(FeaturesAction action) {
    switch (action) {
        case FeaturesAction::Set:
            return "beamctl features set";
        case FeaturesAction::Clear:
            return "beamctl features clear";
        case FeaturesAction::Save:
            return "beamctl features save";
        case FeaturesAction::Show:
            break;
    }
    return "beamctl features show";
}

bool changes(FeaturesAction action) {
    return action == FeaturesAction::Set || action == FeaturesAction::Clear;
}

FeatureOptions featureOptions(const Arguments& args) {
    FeatureOptions options;
    options.keepCrcErrors = present(args.keepcrcerrors);
    options.keepCrc32 = present(args.keepcrc32);
    options.disablePortA = present(args.disablea);
    options.disablePortB = present(args.disableb);
    options.slicing = present(args.slicing);
    options.slicingLength = valueOf(args.slicing);
    options.inlineMode = present(args.inlineMode);
    options.loopback = present(args.loopback);
    options.timestamps = present(args.timestamps);
    options.syncTimestamps = present(args.syncts);
    return options;
}

bool optionsParse(const CommandLine& line, FeaturesAction action) {
    Arguments& args = line.args;
    if (!changes(action)) return parses(args.deviceTable, line.argc - 2, line.argv + 2);
    return line.argc >= 4 && parses(args.featuresChangeTable, line.argc - 2, line.argv + 2) &&
           valueOf(args.slicing) >= 0;
}

// Reads the type's capability word and the current record; prints the failure.
bool readFeatures(const CommandLine& line, NettlebeamApiDeviceHandle handle,
                  std::uint32_t& capabilities, NettlebeamApiDeviceFeatures& features) {
    NettlebeamApiDeviceType type = 0;
    if (const std::int32_t status = NettlebeamAPIGetDeviceType(handle, &type); status != 0) {
        std::fputs("Failed to get device type\n", line.out);
        explainFailure(line.err, handle, status);
        return false;
    }
    capabilities = NettlebeamAPIGetDeviceCapabilities(type);
    if (const std::int32_t status = NettlebeamAPIGetDeviceFeatures(handle, &features);
        status != 0) {
        std::fputs("Failed to get Nettlebeam Features configuration\n", line.out);
        explainFailure(line.err, handle, status);
        return false;
    }
    return true;
}

int changeFeatures(const CommandLine& line, NettlebeamApiDeviceHandle handle,
                   FeaturesAction action) {
    std::uint32_t capabilities = 0;
    NettlebeamApiDeviceFeatures features{};
    if (!readFeatures(line, handle, capabilities, features)) return kFailure;
    const FeatureOptions options = featureOptions(line.args);
    const std::string warnings = action == FeaturesAction::Set
                                     ? setFeatures(features, options, capabilities)
                                     : clearFeatures(features, options, capabilities);
    std::fputs(warnings.c_str(), line.out);
    if (const std::int32_t status = NettlebeamAPISetDeviceFeatures(handle, features); status != 0) {
        std::fputs("Failed to set Nettlebeam Features configuration\n", line.out);
        explainFailure(line.err, handle, status);
        return kFailure;
    }
    return 0;
}

int saveFeatures(const CommandLine& line, NettlebeamApiDeviceHandle handle) {
    const std::int32_t status = NettlebeamAPISaveDeviceFeatures(handle);
    if (status == 0) return 0;
    std::fputs("Failed to save Nettlebeam Features configuration\n", line.out);
    explainFailure(line.err, handle, status);
    return kFailure;
}

int showFeatures(const CommandLine& line, NettlebeamApiDeviceHandle handle, bool json) {
    std::uint32_t capabilities = 0;
    NettlebeamApiDeviceFeatures features{};
    if (!readFeatures(line, handle, capabilities, features)) return kFailure;
    if (json) {
        std::fprintf(line.out, "%s\n", featuresJson(features, capabilities).c_str());
    } else {
        std::fputs(featuresReport(features, capabilities).c_str(), line.out);
    }
    return 0;
}

int runAction(const CommandLine& line, FeaturesAction action) {
    Arguments& args = line.args;
    // Only `show` reports anything a script would parse.
    const bool json = action == FeaturesAction::Show && hasWord(line, "--json");
    if (json) {
        if (line.help || !parses(args.deviceJsonTable, line.argc - 2, line.argv + 2)) {
            return printUsage(line.out, headingOf(action), args.deviceJsonTable);
        }
    } else if (line.help || !optionsParse(line, action)) {
        return printUsage(line.out, headingOf(action),
                          changes(action) ? args.featuresChangeTable : args.deviceTable);
    }
    const auto handle = startDeviceCommand(line, args.device, !json);
    if (!handle) return kFailure;
    const LibrarySession session;
    switch (action) {
        case FeaturesAction::Set:
        case FeaturesAction::Clear:
            return changeFeatures(line, *handle, action);
        case FeaturesAction::Save:
            return saveFeatures(line, *handle);
        case FeaturesAction::Show:
            break;
    }
    return showFeatures(line, *handle, json);
}

}  // namespace

int runFeatures(const CommandLine& line) {
    Arguments& args = line.args;
    if (line.argc < 3 || !parses(args.featuresTable, 2, line.argv + 1)) {
        return printUsage(line.out, "beamctl features", args.featuresTable);
    }
    const char* action = line.argv[2];
    if (sameWord(action, "set")) return runAction(line, FeaturesAction::Set);
    if (sameWord(action, "clear")) return runAction(line, FeaturesAction::Clear);
    if (sameWord(action, "save")) return runAction(line, FeaturesAction::Save);
    if (sameWord(action, "show")) return runAction(line, FeaturesAction::Show);
    return printUsage(line.out, "beamctl features", args.featuresTable);
}

}  // namespace beamctl
