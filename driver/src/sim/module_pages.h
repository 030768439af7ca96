// What a device serves of the module in one cage: the lower half of its
// serial ID page (A0) and, when the module has diagnostics, the lower half
// of its diagnostics page (A2), as SFF-8472 lays them out.
#pragma once

#include <array>
#include <cstdint>
#include <optional>

namespace nettlebeam::driver::sim {

struct ModulePages {
    std::array<uint8_t, 128> serialId{};
    std::optional<std::array<uint8_t, 128>> diagnostics;
};

}  // namespace nettlebeam::driver::sim
