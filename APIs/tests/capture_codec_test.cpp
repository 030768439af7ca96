#include <gtest/gtest.h>

#include <vector>

#include "byte_order.h"
#include "codec/capture.h"

namespace nettlebeam::codec {
namespace {

TEST(CaptureStatus, WordsMapToFields) {
    std::vector<uint8_t> reply(kCaptureStatusReplySize, 0xEE);  // unused tail
    const uint64_t words[8] = {2, 0, 1 << 20, 5000000000ull, 17, 16, 100ull << 20, 3};
    for (size_t i = 0; i < 8; ++i) wire::writeLe64(reply, 8 * i, words[i]);
    const auto status = decodeDiskDumpStatus(reply);
    ASSERT_TRUE(status.has_value());
    EXPECT_EQ(status->enabled, 1);
    EXPECT_EQ(status->statusFlag, 0);
    EXPECT_EQ(status->cacheUsed, 1u << 20);
    EXPECT_EQ(status->bytesWritten, 5000000000ull);
    EXPECT_EQ(status->bytesDropped, 17u);
    EXPECT_EQ(status->error, -9);
    EXPECT_EQ(status->maxCache, 100ull << 20);
    EXPECT_EQ(status->filesWritten, 3u);
    // Only the first 64 bytes are needed; anything shorter is refused.
    EXPECT_TRUE(decodeDiskDumpStatus(std::span(reply).first(64)).has_value());
    EXPECT_FALSE(decodeDiskDumpStatus(std::span(reply).first(63)).has_value());
}

TEST(CaptureStatus, ErrorCodes) {
    EXPECT_EQ(captureErrorStatus(0), 0);
    EXPECT_EQ(captureErrorStatus(1), -6);
    EXPECT_EQ(captureErrorStatus(2), -7);
    EXPECT_EQ(captureErrorStatus(8), -8);
    EXPECT_EQ(captureErrorStatus(16), -9);
    EXPECT_EQ(captureErrorStatus(4), -1);
    EXPECT_EQ(captureErrorStatus(3), -1);
    EXPECT_EQ(captureErrorStatus(1ull << 32 | 1), -1);  // high bits are not ignored
}

TEST(CaptureSettings, SwitchesAndFileName) {
    EXPECT_EQ(switchByte(1), 1);
    EXPECT_EQ(switchByte(2), 0);
    EXPECT_EQ(switchByte(-1), 0);
    const auto bytes = encodeUtf16Name(u"/tmp/a\u00E9");
    ASSERT_EQ(bytes.size(), 16u);
    EXPECT_EQ(bytes[0], '/');
    EXPECT_EQ(bytes[1], 0);
    EXPECT_EQ(bytes[12], 0xE9);
    EXPECT_EQ(bytes[14], 0);
    EXPECT_EQ(bytes[15], 0);
    EXPECT_EQ(encodeUtf16Name(u"").size(), 2u);
}

}  // namespace
}  // namespace nettlebeam::codec
