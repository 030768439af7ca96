// Requests that manage the daemon itself. They travel over the control socket
// with the same framing as device requests, with codes outside the device
// range, and never carry a device handle.
#pragma once

#include <cstdint>

namespace nettlebeam::driver::admin {

// input: a simulated device's encoded settings; reply: the new handle (i32 LE).
// Another backend attaches with a code of its own (device_backend.h).
constexpr uint32_t kAttach = 0x4E420001;
// input: handle (i32 LE); no reply
constexpr uint32_t kDetach = 0x4E420002;
// no input; reply: text, one line per device
constexpr uint32_t kDevices = 0x4E420003;
// no input; no reply; the daemon stops after answering
constexpr uint32_t kStop = 0x4E420004;
// input: encoded fault; no reply
constexpr uint32_t kInject = 0x4E420005;
// input: a complete 4108-byte event record; no reply
constexpr uint32_t kEvent = 0x4E420006;
// input: an interface device's encoded settings (netif/netif_options.h);
// reply: the new handle (i32 LE). With room for more than the handle, a
// refusal is answered as handle -1 and one line of text saying why.
constexpr uint32_t kAttachInterfaces = 0x4E420010;

constexpr bool isAdminCode(uint32_t code) {
    return (code & 0xFFFF0000) == 0x4E420000;
}

}  // namespace nettlebeam::driver::admin
