// A check that stays on in optimised fuzz builds: a broken invariant must
// stop the fuzzer with the input that broke it, like a sanitizer report.
// The message goes to the sanitizers' report stream, which libFuzzer keeps
// open even when it closes the target's standard error (-close_fd_mask=2).
#pragma once

#include <sanitizer/common_interface_defs.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#define FUZZ_CHECK(condition)                                                               \
    do {                                                                                    \
        if (!(condition)) {                                                                 \
            char fuzzCheckMessage[512];                                                     \
            std::snprintf(fuzzCheckMessage, sizeof fuzzCheckMessage,                        \
                          "invariant broken: %s at %s:%d", #condition, __FILE__, __LINE__); \
            __sanitizer_report_error_summary(fuzzCheckMessage);                             \
            std::abort();                                                                   \
        }                                                                                   \
    } while (0)

namespace nettlebeam::fuzz {

template <typename Record>
bool sameBytes(const Record& a, const Record& b) {
    return std::memcmp(&a, &b, sizeof(Record)) == 0;
}

// A record whose every byte is `fill`, so that writes a decoder should not
// make show up as changed bytes.
template <typename Record>
Record filledRecord(unsigned char fill) {
    Record record;
    std::memset(&record, fill, sizeof record);
    return record;
}

}  // namespace nettlebeam::fuzz
