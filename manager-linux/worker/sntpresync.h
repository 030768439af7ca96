// Obtaining a time for the device clock from SNTP: the device takes whole
// seconds, so a time is used only when it lies well inside its second.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>

#include "sntpclient.h"

constexpr int kSntpAttempts = 10;
constexpr int kSntpRetryPauseMs = 100;
constexpr uint32_t kSntpEarliestNanoseconds = 200000000;
constexpr uint32_t kSntpLatestNanoseconds = 700000000;

using SntpQuery = std::function<int(SntpTime*)>;

// Up to ten attempts, 100 ms apart (also after the last failed one). The Unix
// seconds of the first time whose fraction lies in [0.2 s, 0.7 s], or nothing.
std::optional<uint32_t> obtainSntpSeconds(const SntpQuery& query);
