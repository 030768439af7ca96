// The pure parts behind the script outputs, where the traps are: the byte
// order of a counter's address pattern, counters that go backwards between
// two reads, and text that must stay valid JSON.
#include <gtest/gtest.h>

#include "counter_definition.h"
#include "json.h"
#include "rates.h"
#include "reasons.h"

namespace beamctl {
namespace {

NettlebeamApiCounterV2 untested() {
    NettlebeamApiCounterV2 counter{};
    for (std::int32_t* field :
         {&counter.isIPv4, &counter.isIPv6, &counter.isbcast, &counter.ismcast, &counter.isucast,
          &counter.isicmp, &counter.isudp, &counter.istcp, &counter.iscrcValid, &counter.isDropped,
          &counter.sizeMode}) {
        *field = -1;
    }
    return counter;
}

TEST(CounterDefinition, NamesConditionsSizeAndTheAddressInReadingOrder) {
    NettlebeamApiCounterV2 counter = untested();
    counter.port1 = 1;
    counter.port2 = 1;
    EXPECT_EQ(counterDefinition(counter), "packets on A+B: all");

    // 10.0.*.7, stored last byte first: the first dotted number in byte 3.
    counter.ip[3] = 10;
    counter.ip[2] = 0;
    counter.ip[0] = 7;
    counter.ipMask[3] = counter.ipMask[2] = counter.ipMask[0] = 0xFF;
    counter.isIPv4 = 1;
    counter.istcp = 1;
    counter.isbcast = 0;
    counter.sizeMode = 0;
    counter.size = 0x10000 + 1000;  // only the low 16 bits count
    counter.mode = 1;
    counter.port2 = 0;
    EXPECT_EQ(counterDefinition(counter),
              "bytes on A: IPv4, not broadcast, TCP, size > 1000, IP 10.0.*.7");
    // Only 0xFF compares a byte; without exactly one IP version tested the
    // pattern is not shown at all.
    counter.ipMask[0] = 0x0F;
    EXPECT_EQ(counterDefinition(counter),
              "bytes on A: IPv4, not broadcast, TCP, size > 1000, IP 10.0.*.*");
    counter.isIPv6 = 1;
    EXPECT_EQ(counterDefinition(counter),
              "bytes on A: IPv4, IPv6, not broadcast, TCP, size > 1000");

    NettlebeamApiCounterV2 six = untested();
    six.isIPv6 = 1;
    six.port2 = 1;
    six.ip[15] = 0x20;
    six.ip[14] = 0x01;
    six.ip[0] = 0x01;
    six.ipMask[15] = six.ipMask[14] = six.ipMask[0] = 0xFF;
    EXPECT_EQ(counterDefinition(six),
              "packets on B: IPv6, IP 2001:****:****:****:****:****:****:**01");
}

NettlebeamApiStatistics formatOne(std::uint64_t timestamp, std::uint64_t frames,
                                  std::uint64_t bytes) {
    NettlebeamApiStatistics record{};
    record.version = 1;
    record.timestamp = timestamp;
    record.data.v1.portA.totalValidPackets = frames;
    record.data.v1.portA.totalBytes = bytes;
    return record;
}

TEST(Rates, CountTheGapAndNeverWrapWhenCountersRestart) {
    const auto rates = portRates(formatOne(1000, 100, 6400), formatOne(3000, 300, 19200));
    ASSERT_TRUE(rates);
    EXPECT_DOUBLE_EQ((*rates)[0].framesPerSecond, 100.0);
    // 12800 bytes and 200 gaps of 20 bytes in 2 s.
    EXPECT_DOUBLE_EQ((*rates)[0].megabitsPerSecond, (12800.0 + 4000.0) * 8 / 1e6 / 2);

    const auto restarted = portRates(formatOne(1000, 500, 64000), formatOne(2000, 10, 640));
    ASSERT_TRUE(restarted);
    EXPECT_EQ((*restarted)[0].framesPerSecond, 0.0);
    EXPECT_EQ((*restarted)[0].megabitsPerSecond, 0.0);

    EXPECT_FALSE(portRates(formatOne(1000, 1, 1), formatOne(1000, 2, 2))) << "no time passed";
    NettlebeamApiStatistics second = formatOne(2000, 0, 0);
    second.version = 2;
    EXPECT_FALSE(portRates(formatOne(1000, 1, 1), second));
}

TEST(Json, EscapesTextAndKeepsNumbersExact) {
    JsonObject json;
    json.add("name", std::string_view("a\"b\\c\n\x01", 7))
        .add("big", std::uint64_t{18446744073709551615ull})
        .add("rate", 0.5)
        .add("nan", 0.0 / 0.0)
        .add("negativeZero", -0.0);
    EXPECT_EQ(json.text(),
              "{\"name\":\"a\\\"b\\\\c\\u000a\\u0001\",\"big\":18446744073709551615,"
              "\"rate\":0.5,\"nan\":null,\"negativeZero\":0}");
}

TEST(Hints, NameTheOptionWhoseValueWasDetached) {
    EXPECT_EQ(detachedValueHint({"--rates", "--interval", "5"}, {"interval"}),
              "--interval takes its value attached: use --interval=5");
    EXPECT_FALSE(detachedValueHint({"--interval", "--json"}, {"interval"}));
    EXPECT_FALSE(detachedValueHint({"--interval=5", "7"}, {"interval"}));
}

}  // namespace
}  // namespace beamctl
