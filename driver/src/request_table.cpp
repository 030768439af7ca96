#include "request_table.h"

#include <array>

namespace nettlebeam::driver {

namespace {

namespace code = wire::code;

struct Entry {
    uint32_t code;
    RequestShape shape;
};

constexpr RequestShape command() {
    return {true, PayloadRule::None, 0, ReplyRule::None, 0};
}
constexpr RequestShape read(uint32_t bytes) {
    return {true, PayloadRule::None, 0, ReplyRule::Fixed, bytes};
}
constexpr RequestShape write(uint32_t bytes) {
    return {true, PayloadRule::Fixed, bytes, ReplyRule::None, 0};
}
constexpr RequestShape readInto() {
    return {true, PayloadRule::None, 0, ReplyRule::CallerBuffer, 0};
}

constexpr std::array kTable = {
    Entry{code::kEnumerate, {false, PayloadRule::None, 0, ReplyRule::CallerBuffer, 0}},
    Entry{code::kSaveConfiguration, command()},
    Entry{code::kWriteConfiguration, write(32)},
    Entry{code::kReadConfiguration, read(32)},
    Entry{code::kStatisticsFormat1, read(160)},
    Entry{code::kVersions, read(12)},
    Entry{code::kHardwareId, read(1)},
    Entry{code::kHostDropCounter, read(8)},
    Entry{code::kMacAddress, read(6)},
    Entry{code::kTimingStatus, read(19)},
    Entry{code::kLinkStatusByte, read(1)},
    Entry{code::kPortSpeedByte, read(1)},
    Entry{code::kLinkDetails, read(20)},
    Entry{code::kTransceiverData, read(500)},
    Entry{code::kReadDpiFilter, read(224)},
    Entry{code::kWriteDpiFilter, write(224)},
    Entry{code::kSaveDpiFilter, command()},
    Entry{code::kWriteCounter, write(30)},
    Entry{code::kReadCounter, {true, PayloadRule::Fixed, 4, ReplyRule::Fixed, 30}},
    Entry{code::kStatisticsFormat2, read(128)},
    Entry{code::kReadPacketFilter, read(248)},
    Entry{code::kWritePacketFilter, write(248)},
    Entry{code::kSavePacketFilter, command()},
    Entry{code::kSetTimingTime, write(17)},
    Entry{code::kRestart, command()},
    Entry{code::kExtraInformation, read(64)},
    Entry{code::kStatisticsTrailer, read(16)},
    Entry{code::kReadPacketTypeFilter, read(8)},
    Entry{code::kWritePacketTypeFilter, write(8)},
    Entry{code::kSavePacketTypeFilter, command()},
    Entry{code::kFirmwareBegin1, write(4)},
    Entry{code::kFirmwareBegin2, write(4)},
    Entry{code::kFirmwareFinish1, command()},
    Entry{code::kFirmwareFinish2, command()},
    Entry{code::kFirmwareData1, {true, PayloadRule::FirmwareBlock, 0, ReplyRule::None, 0}},
    Entry{code::kFirmwareData2, {true, PayloadRule::FirmwareBlock, 0, ReplyRule::None, 0}},
    Entry{code::kFirmwareProgress1, read(1)},
    Entry{code::kFirmwareProgress2, read(1)},
    Entry{code::kCaptureStart, command()},
    Entry{code::kCaptureStop, command()},
    Entry{code::kCaptureFileName, {true, PayloadRule::FileName, 0, ReplyRule::None, 0}},
    Entry{code::kCaptureLoop, write(1)},
    Entry{code::kCaptureExtraOption, write(1)},
    Entry{code::kCaptureFileCount, write(4)},
    Entry{code::kCaptureMaxCache, write(8)},
    Entry{code::kCaptureFileSize, write(8)},
    Entry{code::kCaptureStatus, read(8256)},
    Entry{code::kCaptureMode, write(4)},
    Entry{code::kCaptureFileDuration, write(4)},
    Entry{code::kCaptureFullFrames, write(1)},
    Entry{code::kCaptureFramesWritten, read(8)},
    Entry{code::kMemoryCaptureStart, command()},
    Entry{code::kMemoryCaptureStop, command()},
    Entry{code::kMemoryCaptureData, readInto()},
    Entry{code::kMemoryCaptureMode, write(4)},
    Entry{code::kMemoryCaptureHeader, readInto()},
    Entry{code::kGpsOutputRead, readInto()},
    Entry{code::kGpsOutputFlush, command()},
    Entry{code::kEventWait,
          {false, PayloadRule::None, 0, ReplyRule::Fixed, wire::kEventRecordBytes}},
};

}  // namespace

std::optional<RequestShape> requestShape(uint32_t code) {
    for (const Entry& entry : kTable)
        if (entry.code == code) return entry.shape;
    return std::nullopt;
}

bool payloadFits(const RequestShape& shape, const uint8_t* payload, uint32_t length) {
    switch (shape.payload) {
        case PayloadRule::None:
            return length == 0;
        case PayloadRule::Fixed:
            return length == shape.payloadBytes;
        case PayloadRule::FirmwareBlock:
            return length >= 1 && length <= wire::kMaxFirmwareBlockBytes;
        case PayloadRule::FileName:
            // At least the terminator, whole characters, and the last one zero.
            return length >= 2 && length <= kMaxFileNameBytes && length % 2 == 0 &&
                   payload[length - 1] == 0 && payload[length - 2] == 0;
    }
    return false;
}

bool capacityFits(const RequestShape& shape, uint32_t capacity) {
    return shape.reply != ReplyRule::Fixed || capacity >= shape.replyBytes;
}

}  // namespace nettlebeam::driver
