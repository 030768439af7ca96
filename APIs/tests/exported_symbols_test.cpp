// The library exports exactly its C interface: every export, nothing else.
#include <dlfcn.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <set>
#include <sstream>
#include <string>

#include "NettlebeamAPI.h"
#include "nettlebeam_testsupport.h"

namespace {

const std::set<std::string> kExports = {
    "NettlebeamAPIInitialize",
    "NettlebeamAPIUninitialize",
    "NettlebeamAPIGetDevicesList",
    "NettlebeamApiDeviceListFree",
    "NettlebeamApiSleepMs",
    "NettlebeamAPIGetVersion",
    "NettlebeamAPIGetDeviceType",
    "NettlebeamAPIGetDeviceCapabilities",
    "NettlebeamAPIGetDeviceCapabilitiesEx",
    "NettlebeamAPIGetDeviceMAC",
    "NettlebeamAPIGetDeviceExtraInfo",
    "NettlebeamAPIGetVersions",
    "NettlebeamAPIGetHwFirmwaresDesc",
    "NettlebeamAPIGetDeviceFeatures",
    "NettlebeamAPISetDeviceFeatures",
    "NettlebeamAPISaveDeviceFeatures",
    "NettlebeamAPIGetDevicePortsSpeed",
    "NettlebeamAPISetDevicePortsSpeed",
    "NettlebeamAPIRestartDevice",
    "NettlebeamAPIGetLinkStatus",
    "NettlebeamAPIGetStatistics",
    "NettlebeamAPISetCounterV2",
    "NettlebeamAPIGetCounterV2",
    "NettlebeamAPISetPacketsTypeFilter",
    "NettlebeamAPIGetPacketsTypeFilter",
    "NettlebeamAPISavePacketsTypeFilter",
    "NettlebeamAPISetDpiFilter",
    "NettlebeamAPIGetDpiFilter",
    "NettlebeamAPISaveDpiFilter",
    "NettlebeamAPISetPacketFilter",
    "NettlebeamAPIGetPacketFilter",
    "NettlebeamAPISavePacketFilter",
    "NettlebeamAPISetTimingTime",
    "NettlebeamAPIGetTimingStatus",
    "NettlebeamAPIGPSOutputRead",
    "NettlebeamAPIGPSOutputFlush",
    "NettlebeamAPIDiskDumpSetConfig",
    "NettlebeamAPIDiskDumpStart",
    "NettlebeamAPIDiskDumpStop",
    "NettlebeamAPIDiskDumpGetStatus",
    "NettlebeamAPIDiskDumpGetFramesWritten",
    "NettlebeamAPIMemoryCaptureStart",
    "NettlebeamAPIMemoryCaptureStop",
    "NettlebeamAPIMemoryCaptureGet",
    "NettlebeamAPIMemoryCaptureGetHeader",
    "NettlebeamAPIFirmwareUpdateStart",
    "NettlebeamAPIFirmwareUpdateGetProgress",
    "NettlebeamAPIAddGlobalCallback",
    "NettlebeamAPIRemoveGlobalCallback",
    "NettlebeamAPIAddNewDeviceCallback",
    "NettlebeamAPIRemoveNewDeviceCallback",
    "NettlebeamAPIAddDeviceGoneCallback",
    "NettlebeamAPIRemoveDeviceGoneCallback",
    "NettlebeamAPIAddDeviceCallback",
    "NettlebeamAPIRemoveDeviceCallback",
};

// The program's full path from PATH: the process runner does not search it.
std::string programPath(const std::string& name) {
    const char* path = std::getenv("PATH");
    std::istringstream folders(path != nullptr ? path : "/usr/bin:/bin");
    std::string folder;
    while (std::getline(folders, folder, ':')) {
        std::string candidate = folder + "/" + name;
        if (access(candidate.c_str(), X_OK) == 0) return candidate;
    }
    return name;
}

std::string libraryFile() {
    Dl_info info{};
    if (dladdr(reinterpret_cast<void*>(&NettlebeamAPIGetVersion), &info) == 0 ||
        info.dli_fname == nullptr)
        return {};
    return info.dli_fname;
}

TEST(ExportedSymbols, ExactlyTheInterface) {
    ASSERT_EQ(kExports.size(), 55u);
    std::string library = libraryFile();
    ASSERT_FALSE(library.empty());
    auto result =
        nettlebeam::testsupport::runProcess({programPath("nm"), "-D", "--defined-only", library});
    ASSERT_EQ(result.exitStatus, 0) << result.err;

    std::set<std::string> defined;
    std::istringstream lines(result.out);
    std::string line;
    while (std::getline(lines, line)) {
        std::istringstream fields(line);
        std::string address, kind, name;
        fields >> address >> kind >> name;
        if (!name.empty()) defined.insert(name);
    }
    EXPECT_EQ(defined, kExports);
}

TEST(ExportedSymbols, SonameCarriesTheInterfaceVersion) {
    auto result =
        nettlebeam::testsupport::runProcess({programPath("readelf"), "-d", libraryFile()});
    ASSERT_EQ(result.exitStatus, 0) << result.err;
    EXPECT_NE(result.out.find("[libNettlebeamAPI.so.2]"), std::string::npos) << result.out;
    EXPECT_EQ(NettlebeamAPIGetVersion(), 0x00130302u);
}

}  // namespace
