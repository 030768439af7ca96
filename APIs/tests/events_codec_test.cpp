#include <gtest/gtest.h>

#include <vector>

#include "byte_order.h"
#include "codec/events.h"
#include "request_codes.h"

namespace nettlebeam::codec {
namespace {

std::vector<uint8_t> record(uint32_t kind, int32_t handle) {
    std::vector<uint8_t> bytes(wire::kEventRecordBytes, 0);
    wire::writeLe32(bytes, 0, static_cast<uint32_t>(handle));
    wire::writeLe32(bytes, 4, kind);
    return bytes;
}

TEST(Events, ArrivalAndRemovalNameTheHandleAtOffset12) {
    auto bytes = record(kEventDeviceArrival, 99);
    wire::writeLe32(bytes, 12, 7);
    auto event = decodeEvent(bytes);
    ASSERT_TRUE(event.has_value());
    EXPECT_EQ(event->kind, kEventDeviceArrival);
    EXPECT_EQ(event->handle, 7);

    bytes = record(kEventDeviceRemoval, 0);
    wire::writeLe32(bytes, 12, 0xFFFFFFFF);
    EXPECT_EQ(decodeEvent(bytes)->handle, -1);
    EXPECT_FALSE(decodeEvent(std::span(bytes).first(15)).has_value());
}

TEST(Events, CaptureStateCarriesStateAndMappedError) {
    auto bytes = record(kEventCaptureState, 3);
    wire::writeLe32(bytes, 12, 0);
    wire::writeLe64(bytes, 16, 2);
    auto event = decodeEvent(bytes);
    ASSERT_TRUE(event.has_value());
    EXPECT_EQ(event->handle, 3);
    auto value = diskDumpCallbackValue(*event);
    EXPECT_EQ(value.enabled, 0);
    EXPECT_EQ(value.error, -7);

    wire::writeLe32(bytes, 12, 0x100);
    wire::writeLe64(bytes, 16, 4);
    value = diskDumpCallbackValue(*decodeEvent(bytes));
    EXPECT_EQ(value.enabled, 1);
    EXPECT_EQ(value.error, -1);
    EXPECT_FALSE(decodeEvent(std::span(bytes).first(23)).has_value());
}

TEST(Events, FileNameStopsAtItsZero) {
    auto bytes = record(kEventNewCaptureFile, 5);
    const std::u16string name = u"/data/cap_0001.pcap";
    for (size_t i = 0; i < name.size(); ++i) wire::writeLe16(bytes, 12 + 2 * i, name[i]);
    wire::writeLe16(bytes, 12 + 2 * name.size() + 2, u'X');  // after the zero: ignored
    const auto event = decodeEvent(bytes);
    ASSERT_TRUE(event.has_value());
    EXPECT_EQ(event->handle, 5);
    EXPECT_EQ(event->fileName, name);
}

TEST(Events, UnterminatedFileNameStaysInsideTheRecord) {
    auto bytes = record(kEventNewCaptureFile, 5);
    for (size_t offset = 12; offset < bytes.size(); offset += 2)
        wire::writeLe16(bytes, offset, u'a');
    EXPECT_EQ(decodeEvent(bytes)->fileName.size(), 2048u);
    // A shorter record bounds the name too, including a trailing odd byte.
    EXPECT_EQ(decodeEvent(std::span(bytes).first(12 + 7))->fileName.size(), 3u);
    EXPECT_EQ(decodeEvent(std::span(bytes).first(12))->fileName.size(), 0u);
}

TEST(Events, OtherKindsDecodeButCarryNothing) {
    const auto bytes = record(5, 1);
    const auto event = decodeEvent(bytes);
    ASSERT_TRUE(event.has_value());
    EXPECT_EQ(event->kind, 5u);
    EXPECT_TRUE(event->fileName.empty());
    EXPECT_FALSE(decodeEvent(std::span(bytes).first(7)).has_value());
}

}  // namespace
}  // namespace nettlebeam::codec
