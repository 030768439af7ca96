// A programmable counter's definition in words, printed beside its value so
// a reader knows what the sixteen numbers count.
#pragma once

#include <NettlebeamAPI.h>

#include <string>

namespace beamctl {

// e.g. "packets on A+B: IPv4, TCP, not broadcast, size > 1000, IP 10.0.*.*"
// (addresses written as the window writes them);
// "... : all" when nothing is tested.
std::string counterDefinition(const NettlebeamApiCounterV2& counter);

// Counter `number` (1 to 16) as a JSON object: counter, definition, mode,
// portA, portB, each condition as true, false or null (not tested),
// sizeCompare (">", "<", "=" or null), size, and address (or null).
std::string counterJson(const NettlebeamApiCounterV2& counter, int number);

}  // namespace beamctl
