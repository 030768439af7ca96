// The boundary of every export: no C++ exception may reach a C caller.
#pragma once

#include <cstdint>
#include <utility>

#include "NettlebeamAPI.h"

namespace nettlebeam::api {

// Runs an export's body. An exception (out of memory, a system primitive that
// failed) ends the call with `failure` instead of unwinding into C code.
template <typename Result, typename Body>
Result guardedExport(Result failure, Body&& body) noexcept {
    try {
        return body();
    } catch (...) {
        return failure;
    }
}

template <typename Body>
int32_t guardedExport(Body&& body) noexcept {
    return guardedExport<int32_t>(NETTLEBEAM_STATUS_FAILED, std::forward<Body>(body));
}

}  // namespace nettlebeam::api
