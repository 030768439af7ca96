// A check that stays on in optimised fuzz builds: a broken invariant must
// stop the fuzzer with the input that broke it, like a sanitizer report.
#pragma once

#include <cstdio>
#include <cstdlib>
#include <cstring>

#define FUZZ_CHECK(condition)                                                                      \
    do {                                                                                           \
        if (!(condition)) {                                                                        \
            std::fprintf(stderr, "%s:%d: invariant broken: %s\n", __FILE__, __LINE__, #condition); \
            std::abort();                                                                          \
        }                                                                                          \
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
