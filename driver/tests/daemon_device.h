// One device of a test's daemon, addressed by its handle as the library
// addresses it: the tests that check what a device answers on the wire.
#pragma once

#include <cstdint>
#include <utility>
#include <vector>

#include "client.h"
#include "nettlebeam_testsupport.h"
#include "traffic_test_support.h"

namespace nettlebeam::traffic::testing {

struct DaemonDevice {
    const testsupport::Daemon& daemon;
    int handle;

    // The reply to request `c` with `payload` after the handle, in at most
    // `capacity` bytes; `ok` tells a failed request from an empty reply.
    std::vector<uint8_t> request(uint32_t c, std::vector<uint8_t> payload = {},
                                 uint32_t capacity = 0, bool* ok = nullptr) const {
        std::vector<uint8_t> input(4);
        putLe(input, 0, static_cast<uint32_t>(handle), 4);
        input.insert(input.end(), payload.begin(), payload.end());
        std::vector<uint8_t> out(capacity);
        const int32_t n = wire::transact(daemon.controlPath(), c, input.data(),
                                         static_cast<uint32_t>(input.size()), out.data(), capacity);
        if (ok) *ok = n >= 0;
        out.resize(n > 0 ? static_cast<size_t>(n) : 0);
        return out;
    }
    bool command(uint32_t c, std::vector<uint8_t> payload = {}) const {
        bool ok = false;
        request(c, std::move(payload), 0, &ok);
        return ok;
    }
};

}  // namespace nettlebeam::traffic::testing
