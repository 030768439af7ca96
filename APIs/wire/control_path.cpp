#include "control_path.h"

#include <unistd.h>

#include <cstdlib>

namespace nettlebeam::wire {

namespace {
const char* nonEmptyEnv(const char* name) {
    const char* value = std::getenv(name);
    return (value != nullptr && value[0] != '\0') ? value : nullptr;
}
}  // namespace

std::string controlPath() {
    if (const char* explicitPath = nonEmptyEnv("NETTLEBEAM_CONTROL")) return explicitPath;
    if (const char* runtimeDir = nonEmptyEnv("XDG_RUNTIME_DIR"))
        return std::string(runtimeDir) + "/nettlebeam/KV7Control";
    return "/tmp/nettlebeam-" + std::to_string(getuid()) + "/KV7Control";
}

}  // namespace nettlebeam::wire
