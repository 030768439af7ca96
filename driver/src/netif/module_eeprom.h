// A module's EEPROM as the kernel reads it (ethtool's module info and
// module EEPROM requests), and the pages a device serves from it.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <variant>
#include <vector>

#include "../sim/module_pages.h"

namespace nettlebeam::driver::netif {

// The kernel's answer: the layout it names (ETH_MODULE_SFF_*), the length
// it claims, and the bytes read from offset 0.
struct ModuleEeprom {
    uint32_t type = 0;
    uint32_t length = 0;
    std::vector<uint8_t> bytes;
};

// The pages of an SFP module: SFF-8472 holds A0 at 0 and A2 at 256,
// SFF-8079 only A0 (the module then reads as one without diagnostics).
// Empty when the answer holds no whole A0 page or is no SFP layout (a QSFP
// module's SFF-8436/8636 pages). Reads only what is both claimed and
// present.
std::optional<sim::ModulePages> modulePagesFrom(uint32_t type, uint32_t length,
                                                std::span<const uint8_t> bytes);

// Reads the module of interface `name`: the kernel's answer, or its reason
// for having none (no module, or a driver without module access) in one
// line naming the interface. Opens its own socket, so any thread may call it.
std::variant<ModuleEeprom, std::string> readModuleEeprom(const std::string& name);

}  // namespace nettlebeam::driver::netif
