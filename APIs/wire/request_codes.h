// The requests the driver's devices answer, and the sizes fixed by the
// protocol, shared by the library that sends them and the daemon that
// answers. Every request except enumeration and the event wait carries the
// 32-bit device handle first.
#pragma once

#include <cstdint>

namespace nettlebeam::wire {

namespace code {

// Enumerate devices (no handle); reply up to kEnumerationReplyBytes.
inline constexpr uint32_t kEnumerate = 0xCB202000;
// Save the configuration block to non-volatile memory.
inline constexpr uint32_t kSaveConfiguration = 0xCB202004;
// Write the 32-byte configuration block.
inline constexpr uint32_t kWriteConfiguration = 0xCB202008;
// Read the 32-byte configuration block.
inline constexpr uint32_t kReadConfiguration = 0xCB20200C;
// Statistics, format 1 (160 bytes).
inline constexpr uint32_t kStatisticsFormat1 = 0xCB202010;
// Versions (12 bytes).
inline constexpr uint32_t kVersions = 0xCB20201C;
// Hardware identifier (1 byte).
inline constexpr uint32_t kHardwareId = 0xCB202020;
// Host-side drop counter (8 bytes).
inline constexpr uint32_t kHostDropCounter = 0xCB202024;
// MAC address (6 bytes).
inline constexpr uint32_t kMacAddress = 0xCB202028;
// Timing status (19 bytes).
inline constexpr uint32_t kTimingStatus = 0xCB202030;
// Link status byte.
inline constexpr uint32_t kLinkStatusByte = 0xCB202034;
// Port speed byte.
inline constexpr uint32_t kPortSpeedByte = 0xCB202040;
// Link details (20 bytes).
inline constexpr uint32_t kLinkDetails = 0xCB202044;
// Transceiver module data (500 bytes).
inline constexpr uint32_t kTransceiverData = 0xCB202048;
// DPI filter (224 bytes).
inline constexpr uint32_t kReadDpiFilter = 0xCB20204C;
inline constexpr uint32_t kWriteDpiFilter = 0xCB202050;
inline constexpr uint32_t kSaveDpiFilter = 0xCB202054;
// Programmable counter (30 bytes).
inline constexpr uint32_t kWriteCounter = 0xCB202058;
// Programmable counter; input: 4-byte index, reply 30 bytes.
inline constexpr uint32_t kReadCounter = 0xCB20205C;
// Statistics, format 2 (128 bytes).
inline constexpr uint32_t kStatisticsFormat2 = 0xCB202060;
// Packet filter (248 bytes).
inline constexpr uint32_t kReadPacketFilter = 0xCB202064;
inline constexpr uint32_t kWritePacketFilter = 0xCB202068;
inline constexpr uint32_t kSavePacketFilter = 0xCB20206C;
// Set timing time (17 bytes).
inline constexpr uint32_t kSetTimingTime = 0xCB202078;
// Restart the device.
inline constexpr uint32_t kRestart = 0xCB20207C;
// Extra information (64 bytes).
inline constexpr uint32_t kExtraInformation = 0xCB202088;
// Statistics trailer (16 bytes).
inline constexpr uint32_t kStatisticsTrailer = 0xCB20208C;
// Packet-type filter (8 bytes).
inline constexpr uint32_t kReadPacketTypeFilter = 0xCB202090;
inline constexpr uint32_t kWritePacketTypeFilter = 0xCB202094;
inline constexpr uint32_t kSavePacketTypeFilter = 0xCB202098;
// Begin a firmware image; input: 4-byte length.
inline constexpr uint32_t kFirmwareBegin1 = 0xCB202400;
inline constexpr uint32_t kFirmwareBegin2 = 0xCB202404;
// Finish a firmware image.
inline constexpr uint32_t kFirmwareFinish1 = 0xCB202408;
inline constexpr uint32_t kFirmwareFinish2 = 0xCB20240C;
// Firmware image data block (1 to kMaxFirmwareBlockBytes).
inline constexpr uint32_t kFirmwareData1 = 0xCB202410;
inline constexpr uint32_t kFirmwareData2 = 0xCB202414;
// Firmware image programming progress (1 byte).
inline constexpr uint32_t kFirmwareProgress1 = 0xCB202418;
inline constexpr uint32_t kFirmwareProgress2 = 0xCB20241C;
// Start and stop direct capture.
inline constexpr uint32_t kCaptureStart = 0xCB202800;
inline constexpr uint32_t kCaptureStop = 0xCB202804;
// Capture file name: UTF-16 full path with its terminator.
inline constexpr uint32_t kCaptureFileName = 0xCB202808;
// Capture setting: loop (1 byte).
inline constexpr uint32_t kCaptureLoop = 0xCB20280C;
// Capture setting: extra option (1 byte).
inline constexpr uint32_t kCaptureExtraOption = 0xCB202810;
// Capture setting: file count (4 bytes).
inline constexpr uint32_t kCaptureFileCount = 0xCB202814;
// Capture setting: maximum cache (8 bytes).
inline constexpr uint32_t kCaptureMaxCache = 0xCB202818;
// Capture setting: file size (8 bytes).
inline constexpr uint32_t kCaptureFileSize = 0xCB20281C;
// Direct capture status (8256 bytes).
inline constexpr uint32_t kCaptureStatus = 0xCB202820;
// Direct capture mode (4 bytes).
inline constexpr uint32_t kCaptureMode = 0xCB202824;
// Capture setting: file duration (4 bytes).
inline constexpr uint32_t kCaptureFileDuration = 0xCB202828;
// Capture setting: full frames (1 byte).
inline constexpr uint32_t kCaptureFullFrames = 0xCB20282C;
// Frames the direct capture has written to its files since it last started
// (8 bytes, little-endian). A code of its own: the status record has no room.
inline constexpr uint32_t kCaptureFramesWritten = 0xCB202830;
// Start and stop memory capture.
inline constexpr uint32_t kMemoryCaptureStart = 0xCB202C00;
inline constexpr uint32_t kMemoryCaptureStop = 0xCB202C04;
// Memory capture data into the caller's buffer (direct transfer).
inline constexpr uint32_t kMemoryCaptureData = 0xCB202C0B;
// Memory capture mode (4 bytes).
inline constexpr uint32_t kMemoryCaptureMode = 0xCB202C0C;
// Memory capture header into the caller's buffer.
inline constexpr uint32_t kMemoryCaptureHeader = 0xCB202C10;
// GPS output into the caller's buffer, and its flush.
inline constexpr uint32_t kGpsOutputRead = 0xCB203000;
inline constexpr uint32_t kGpsOutputFlush = 0xCB203004;
// Wait for the next event (no handle); reply kEventRecordBytes.
inline constexpr uint32_t kEventWait = 0xCB203400;

}  // namespace code

// Enumeration answers at most this many 32-bit handles.
inline constexpr uint32_t kMaxEnumeratedHandles = 20;
inline constexpr uint32_t kEnumerationReplyBytes = 4 * kMaxEnumeratedHandles;
// Every event record has this size, whatever its kind.
inline constexpr uint32_t kEventRecordBytes = 4108;
// Firmware image data travels in blocks of at most this many bytes.
inline constexpr uint32_t kMaxFirmwareBlockBytes = 508;

}  // namespace nettlebeam::wire
