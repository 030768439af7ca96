// beamctl's command line: any arguments go through its parse-and-dispatch
// entry with the library pointed at a control socket that does not exist,
// so every command runs its argument checks and its failure paths.
// beamctl's parser reorders the argument vector: it gets its own copy.
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "beamctl.h"
#include "fuzz_check.h"

namespace {

constexpr size_t kMaxArguments = 24;

std::vector<std::string> argumentsFrom(const uint8_t* data, size_t size) {
    std::vector<std::string> args{"beamctl"};
    std::string current;
    for (size_t i = 0; i < size && args.size() < kMaxArguments; ++i) {
        if (data[i] == 0) {
            args.push_back(current);
            current.clear();
        } else {
            current.push_back(static_cast<char>(data[i]));
        }
    }
    if (args.size() < kMaxArguments && !current.empty()) args.push_back(current);
    return args;
}

}  // namespace

// beamctl waits up to five seconds for a device to appear; with no driver
// none will, so the fuzzer's copy of the library's sleep returns at once
// (the executable's definition takes precedence over the shared library's).
extern "C" void NettlebeamApiSleepMs(uint32_t) {}

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    setenv("NETTLEBEAM_CONTROL", "/nonexistent/nettlebeam-fuzz/KV7Control", 1);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::vector<std::string> args = argumentsFrom(data, size);
    std::vector<char*> argv;
    for (auto& arg : args) argv.push_back(arg.data());
    argv.push_back(nullptr);
    static std::FILE* sink = std::fopen("/dev/null", "w");
    FUZZ_CHECK(sink != nullptr);
    // The exit status is any library status (or -1); what is checked here is
    // that every path returns, with the sanitizers watching memory and UB.
    beamctl::run(static_cast<int>(args.size()), argv.data(), sink);
    return 0;
}
