#include "request_table.h"

#include <array>

namespace nettlebeam::driver {

namespace {

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
    Entry{0xCB202000, {false, PayloadRule::None, 0, ReplyRule::CallerBuffer, 0}},
    Entry{0xCB202004, command()},
    Entry{0xCB202008, write(32)},
    Entry{0xCB20200C, read(32)},
    Entry{0xCB202010, read(160)},
    Entry{0xCB20201C, read(12)},
    Entry{0xCB202020, read(1)},
    Entry{0xCB202024, read(8)},
    Entry{0xCB202028, read(6)},
    Entry{0xCB202030, read(19)},
    Entry{0xCB202034, read(1)},
    Entry{0xCB202040, read(1)},
    Entry{0xCB202044, read(20)},
    Entry{0xCB202048, read(500)},
    Entry{0xCB20204C, read(224)},
    Entry{0xCB202050, write(224)},
    Entry{0xCB202054, command()},
    Entry{0xCB202058, write(30)},
    Entry{0xCB20205C, {true, PayloadRule::Fixed, 4, ReplyRule::Fixed, 30}},
    Entry{0xCB202060, read(128)},
    Entry{0xCB202064, read(248)},
    Entry{0xCB202068, write(248)},
    Entry{0xCB20206C, command()},
    Entry{0xCB202078, write(17)},
    Entry{0xCB20207C, command()},
    Entry{0xCB202088, read(64)},
    Entry{0xCB20208C, read(16)},
    Entry{0xCB202090, read(8)},
    Entry{0xCB202094, write(8)},
    Entry{0xCB202098, command()},
    Entry{0xCB202400, write(4)},
    Entry{0xCB202404, write(4)},
    Entry{0xCB202408, command()},
    Entry{0xCB20240C, command()},
    Entry{0xCB202410, {true, PayloadRule::FirmwareBlock, 0, ReplyRule::None, 0}},
    Entry{0xCB202414, {true, PayloadRule::FirmwareBlock, 0, ReplyRule::None, 0}},
    Entry{0xCB202418, read(1)},
    Entry{0xCB20241C, read(1)},
    Entry{0xCB202800, command()},
    Entry{0xCB202804, command()},
    Entry{0xCB202808, {true, PayloadRule::FileName, 0, ReplyRule::None, 0}},
    Entry{0xCB20280C, write(1)},
    Entry{0xCB202810, write(1)},
    Entry{0xCB202814, write(4)},
    Entry{0xCB202818, write(8)},
    Entry{0xCB20281C, write(8)},
    Entry{0xCB202820, read(8256)},
    Entry{0xCB202824, write(4)},
    Entry{0xCB202828, write(4)},
    Entry{0xCB20282C, write(1)},
    Entry{0xCB202C00, command()},
    Entry{0xCB202C04, command()},
    Entry{0xCB202C0B, readInto()},
    Entry{0xCB202C0C, write(4)},
    Entry{0xCB202C10, readInto()},
    Entry{0xCB203000, readInto()},
    Entry{0xCB203004, command()},
    Entry{0xCB203400, {false, PayloadRule::None, 0, ReplyRule::Fixed, kEventRecordBytes}},
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
            return length >= 1 && length <= kMaxFirmwareBlock;
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
