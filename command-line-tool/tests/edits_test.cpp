// What the tool writes to the device: dpi data and mask, features changes,
// the capture configuration and a counter's address.
#include <gtest/gtest.h>

#include <cstring>

#include "capture_config.h"
#include "counter_definition.h"
#include "counter_edit.h"
#include "dpi_input.h"
#include "features_edit.h"

namespace beamctl {
namespace {

NettlebeamApiDpiFilter filledFilter() {
    NettlebeamApiDpiFilter filter{};
    std::memset(filter.pattern, 0xAA, sizeof filter.pattern);
    filter.mask = 0x12345678;
    return filter;
}

TEST(DpiInput, TextBecomesTheSixteenCharacterCodesInOrder) {
    NettlebeamApiDpiFilter filter = filledFilter();
    applyTextPattern("GET /index.html ", filter);
    EXPECT_EQ(std::memcmp(filter.pattern, "GET /index.html ", 16), 0);
    EXPECT_EQ(filter.pattern[16], 0xAA) << "bytes beyond the sixteen stay as read";
}

TEST(DpiInput, HexDigitsArePairedLeftToRight) {
    NettlebeamApiDpiFilter filter = filledFilter();
    ASSERT_TRUE(applyHexPattern("054a1d8f90041235BED4054a1d8f9004", filter));
    const std::uint8_t expected[16] = {0x05, 0x4a, 0x1d, 0x8f, 0x90, 0x04, 0x12, 0x35,
                                       0xbe, 0xd4, 0x05, 0x4a, 0x1d, 0x8f, 0x90, 0x04};
    EXPECT_EQ(std::memcmp(filter.pattern, expected, 16), 0);
    EXPECT_EQ(filter.pattern[16], 0xAA);

    NettlebeamApiDpiFilter untouched = filledFilter();
    EXPECT_FALSE(applyHexPattern("054a1d8f90041235bed4054a1d8f900", untouched));
    EXPECT_FALSE(applyHexPattern("054a1d8f90041235bed4054a1d8f90 4", untouched));
    EXPECT_FALSE(applyHexPattern("-54a1d8f90041235bed4054a1d8f9004", untouched));
    EXPECT_EQ(untouched.pattern[0], 0xAA);
}

TEST(DpiInput, MaskIsAWholeThirtyTwoBitHexNumber) {
    EXPECT_EQ(parseMask("0x0000ffff"), 65535u);
    EXPECT_EQ(parseMask("0X0000FFFF"), 65535u);
    EXPECT_EQ(parseMask("ffffffff"), 0xffffffffu);
    EXPECT_EQ(parseMask("0x00000000ffff"), 0xffffu);
    EXPECT_FALSE(parseMask(""));
    EXPECT_FALSE(parseMask("0x0000ffffzz")) << "text after the number";
    EXPECT_FALSE(parseMask("0x"));
    EXPECT_FALSE(parseMask("123456789")) << "does not fit 32 bits";
    EXPECT_FALSE(parseMask(" 0000ffff"));
    EXPECT_FALSE(parseMask("-0000ffff"));
}

TEST(FeaturesEdit, SetChangesOnlyTheNamedFields) {
    NettlebeamApiDeviceFeatures features{};
    features.ppsDelay = 77;
    features.timestampInitSource = 2;
    FeatureOptions options;
    options.keepCrc32 = true;
    options.disablePortA = true;
    options.timestamps = true;
    EXPECT_EQ(setFeatures(features, options, 0), "");
    EXPECT_EQ(features.keepCrc32, 1);
    EXPECT_EQ(features.disablePortA, 1);
    EXPECT_EQ(features.timestamps, 1);
    EXPECT_EQ(features.keepCrcErrors, 0);
    EXPECT_EQ(features.disablePortB, 0);
    EXPECT_EQ(features.syncTimestamps, 0);
    EXPECT_EQ(features.ppsDelay, 77);
    EXPECT_EQ(features.timestampInitSource, 2);
}

TEST(FeaturesEdit, SlicingKeepsTheLowSixteenBits) {
    NettlebeamApiDeviceFeatures features{};
    FeatureOptions options;
    options.slicing = true;
    options.slicingLength = 70000;
    setFeatures(features, options, 0);
    EXPECT_EQ(features.slicingLength, 4464);
    EXPECT_EQ(features.packetSlicing, 1);

    options.slicingLength = 65536;  // low bits all zero: slicing off
    setFeatures(features, options, 0);
    EXPECT_EQ(features.slicingLength, 0);
    EXPECT_EQ(features.packetSlicing, 0);

    features.packetSlicing = 1;
    features.slicingLength = 128;
    options.slicingLength = 0;
    setFeatures(features, options, 0);
    EXPECT_EQ(features.packetSlicing, 0);
    EXPECT_EQ(features.slicingLength, 0);
}

TEST(FeaturesEdit, LoopbackNeedsTheCapability) {
    NettlebeamApiDeviceFeatures features{};
    FeatureOptions options;
    options.loopback = true;
    options.keepCrcErrors = true;
    features.loopback = 1;
    EXPECT_EQ(setFeatures(features, options, CapPortSpeedSelect),
              "Warning : Your device does not support loopback mode.\n");
    EXPECT_EQ(features.loopback, 0);
    EXPECT_EQ(features.keepCrcErrors, 1) << "the other fields are still set";
    EXPECT_EQ(setFeatures(features, options, CapLoopback), "");
    EXPECT_EQ(features.loopback, 1);
}

TEST(FeaturesEdit, ClearSpanModeNeedsPortSpeedSelection) {
    NettlebeamApiDeviceFeatures features{};
    features.inlineMode = 1;
    features.packetSlicing = 1;
    features.slicingLength = 512;
    features.loopback = 1;
    FeatureOptions options;
    options.inlineMode = true;
    options.slicing = true;
    options.slicingLength = 300;  // any value clears
    options.loopback = true;
    EXPECT_EQ(clearFeatures(features, options, CapLoopback),
              "Warning : Your device does not support span mode.\n");
    EXPECT_EQ(features.inlineMode, 1);
    EXPECT_EQ(features.packetSlicing, 0);
    EXPECT_EQ(features.slicingLength, 0);
    EXPECT_EQ(features.loopback, 0);
    EXPECT_EQ(clearFeatures(features, options, CapPortSpeedSelect), "");
    EXPECT_EQ(features.inlineMode, 0);
}

TEST(CaptureConfig, MegabytesBecomeExactByteCounts) {
    CaptureOptions options;
    options.sizeMegabytes = 2048;
    options.maxCacheMegabytes = 4095;
    options.count = 0;
    options.fileDuration = 60;
    options.loop = true;
    options.fullFrames = true;
    const std::u16string name = u"cap";
    const NettlebeamApiDiskDumpConfig config = makeCaptureConfig(options, name);
    EXPECT_EQ(config.fileSize, 2147483648ull);
    EXPECT_EQ(config.maxCache, 4095ull << 20);
    EXPECT_EQ(config.fileCount, 0);
    EXPECT_EQ(config.fileDuration, 60);
    EXPECT_EQ(config.loop, 1);
    EXPECT_EQ(config.fullFrames, 1);
    EXPECT_EQ(config.extraOption, 0);
    EXPECT_EQ(config.mode, 0);
    EXPECT_EQ(config.fileName, name.c_str());

    const NettlebeamApiDiskDumpConfig defaults = makeCaptureConfig(CaptureOptions{}, name);
    EXPECT_EQ(defaults.fileSize, 0u);
    EXPECT_EQ(defaults.maxCache, 104857600u);
    EXPECT_EQ(defaults.fileCount, 1);
    EXPECT_EQ(defaults.loop, 0);
    EXPECT_EQ(defaults.fullFrames, 0);
}

TEST(CaptureConfig, NamesConvertFromUtf8AndInvalidOnesAreRefused) {
    EXPECT_EQ(captureNameFromUtf8("/tmp/a b.pcap"), u"/tmp/a b.pcap");
    EXPECT_EQ(captureNameFromUtf8("caf\xc3\xa9-\xe6\x97\xa5\xe6\x9c\xac"),
              u"caf\u00e9-\u65e5\u672c");
    EXPECT_EQ(captureNameFromUtf8("\xf0\x9d\x84\x9e"), u"\U0001D11E");  // a surrogate pair
    EXPECT_EQ(captureNameFromUtf8(""), u"");
    for (const char* invalid : {"\xe9t\xe9", "caf\xc3", "\xe6\x97", "\xc0\xaf", "\xe0\x80\xaf",
                                "\xed\xa0\x80", "\xf4\x90\x80\x80", "\xff", "\x80"})
        EXPECT_FALSE(captureNameFromUtf8(invalid).has_value()) << invalid;
}

TEST(CounterEdit, TheAddressIsReadInTheOneVersionTheCounterRequires) {
    NettlebeamApiCounterV2 counter{};
    for (std::int32_t* field :
         {&counter.isIPv4, &counter.isIPv6, &counter.isbcast, &counter.ismcast, &counter.isucast,
          &counter.isicmp, &counter.isudp, &counter.istcp, &counter.iscrcValid, &counter.isDropped,
          &counter.sizeMode}) {
        *field = -1;
    }
    std::memset(counter.ip, 0x55, sizeof counter.ip);
    const NettlebeamApiCounterV2 before = counter;
    const auto refused = [&](CounterChange change) {
        NettlebeamApiCounterV2 changed = before;
        const auto reason = applyCounterChange(changed, change);
        EXPECT_EQ(std::memcmp(&changed, &before, sizeof before), 0) << reason.value_or("none");
        return reason.value_or("accepted");
    };
    CounterChange change;
    change.address = "10.*.*.1";
    EXPECT_EQ(refused(change),
              "--address: the counter must require exactly one of IPv4 and IPv6 (--ipv4=yes or "
              "--ipv6=yes) to compare an address");
    change.conditions[0] = "yes";  // --ipv4
    change.address = "10.1.2.256";
    EXPECT_EQ(refused(change),
              "--address: '10.1.2.256' is not an IPv4 address of four parts, each 0 to 255 or *, "
              "or any");
    change.conditions[1] = "yes";  // --ipv6 as well: neither version alone
    change.address = "10.1.2.3";
    EXPECT_NE(refused(change), "accepted");

    change = {};
    change.conditions[0] = "yes";
    change.address = "10.*.*.1";
    ASSERT_EQ(applyCounterChange(counter, change), std::nullopt);
    EXPECT_EQ(counter.ip[3], 10);
    EXPECT_EQ(counter.ip[0], 1);
    EXPECT_EQ(counter.ip[4], 0);  // the whole pattern is replaced
    EXPECT_EQ(counter.ipMask[2], 0);
    EXPECT_EQ(counter.ipMask[3], 0xFF);
    EXPECT_EQ(counterDefinition(counter), "packets on no port: IPv4, IP 10.*.*.1");

    change = {};
    change.conditions[0] = "any";
    change.conditions[1] = "yes";
    change.address = "fe80::*";
    ASSERT_EQ(applyCounterChange(counter, change), std::nullopt);
    EXPECT_EQ(counterDefinition(counter),
              "packets on no port: IPv6, IP fe80:0000:0000:0000:0000:0000:0000:00**");
    change.address = "ANY";
    ASSERT_EQ(applyCounterChange(counter, change), std::nullopt);
    EXPECT_EQ(counterDefinition(counter), "packets on no port: IPv6");
    EXPECT_EQ(counter.ipMask[15], 0);
}

}  // namespace
}  // namespace beamctl
