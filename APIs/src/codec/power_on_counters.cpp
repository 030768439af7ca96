#include "codec/power_on_counters.h"

namespace nettlebeam::codec {
namespace {

constexpr int32_t kNotTested = -1;

enum Ports { kPortA = 1, kPortB = 2, kBoth = 3 };

// A definition with every condition untested; `test` then sets one.
struct Definition {
    NettlebeamApiCounterV2 record{};

    Definition(int32_t index, Ports ports, bool bytes = false) {
        record.index = index;
        for (int32_t* condition : {&record.isIPv4, &record.isIPv6, &record.isbcast, &record.ismcast,
                                   &record.isucast, &record.isicmp, &record.isudp, &record.istcp,
                                   &record.iscrcValid, &record.isDropped}) {
            *condition = kNotTested;
        }
        record.sizeMode = kNotTested;
        record.port1 = (ports & kPortA) != 0 ? 1 : 0;
        record.port2 = (ports & kPortB) != 0 ? 1 : 0;
        record.mode = bytes ? 1 : 0;
    }
    Definition& test(int32_t NettlebeamApiCounterV2::*condition, bool value = true) {
        record.*condition = value ? 1 : 0;
        return *this;
    }
};

CounterDefinitions build() {
    using R = NettlebeamApiCounterV2;
    return {
        Definition(0, kPortA).record,
        Definition(1, kPortB).record,
        Definition(2, kPortA, true).record,
        Definition(3, kPortB, true).record,
        Definition(4, kBoth).test(&R::isIPv4).record,
        Definition(5, kBoth).test(&R::isIPv6).record,
        Definition(6, kBoth).test(&R::istcp).record,
        Definition(7, kBoth).test(&R::isudp).record,
        Definition(8, kBoth).test(&R::isicmp).record,
        Definition(9, kBoth).test(&R::isbcast).record,
        Definition(10, kBoth).test(&R::ismcast).record,
        Definition(11, kBoth).test(&R::isucast).record,
        Definition(12, kBoth).test(&R::iscrcValid, false).record,  // CRC errors
        Definition(13, kPortA).test(&R::isDropped).record,
        Definition(14, kPortB).test(&R::isDropped).record,
        Definition(15, kBoth).test(&R::isDropped).record,
    };
}

}  // namespace

const CounterDefinitions& powerOnCounters() {
    static const CounterDefinitions definitions = build();
    return definitions;
}

}  // namespace nettlebeam::codec
