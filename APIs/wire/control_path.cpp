#include "control_path.h"

#include <unistd.h>

#include <cstdlib>

namespace nettlebeam::wire {

namespace {

const char* nonEmptyEnv(const char* name) {
    const char* value = std::getenv(name);
    return (value != nullptr && value[0] != '\0') ? value : nullptr;
}

constexpr const char* kSocketName = "/KV7Control";

}  // namespace

ControlLayout controlLayout() {
    if (const char* explicitPath = nonEmptyEnv("NETTLEBEAM_CONTROL")) return {explicitPath, ""};
    std::string folder = "/tmp/nettlebeam-" + std::to_string(getuid());
    if (const char* runtimeDir = nonEmptyEnv("XDG_RUNTIME_DIR"))
        folder = std::string(runtimeDir) + "/nettlebeam";
    return {folder + kSocketName, folder};
}

ControlLayout explicitControlLayout(const std::string& socket) {
    return {socket, ""};
}

std::string controlPath() {
    return controlLayout().socket;
}

}  // namespace nettlebeam::wire
