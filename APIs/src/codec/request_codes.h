// Request codes of the driver's control device. Every request except
// enumeration and the event wait carries the 32-bit device handle first.
#pragma once

#include <cstdint>

namespace nettlebeam::codec::request {

// Enumerate devices (no handle); reply up to 80 bytes of handles.
inline constexpr uint32_t EnumerateDevices = 0xCB202000;
// Save features to non-volatile memory.
inline constexpr uint32_t SaveFeatures = 0xCB202004;
// Write the 32-byte configuration block.
inline constexpr uint32_t WriteConfigBlock = 0xCB202008;
// Read the 32-byte configuration block.
inline constexpr uint32_t ReadConfigBlock = 0xCB20200C;
// Statistics, format 1 (160 bytes).
inline constexpr uint32_t ReadStatisticsFormat1 = 0xCB202010;
// Versions (12 bytes).
inline constexpr uint32_t ReadVersions = 0xCB20201C;
// Hardware identifier (1 byte).
inline constexpr uint32_t ReadHardwareIdentifier = 0xCB202020;
// Host-side drop counter (8 bytes).
inline constexpr uint32_t ReadHostDropped = 0xCB202024;
// MAC address (6 bytes).
inline constexpr uint32_t ReadMacAddress = 0xCB202028;
// Timing status (19 bytes).
inline constexpr uint32_t ReadTimingStatus = 0xCB202030;
// Link status byte.
inline constexpr uint32_t ReadLinkStatusByte = 0xCB202034;
// Port speed byte.
inline constexpr uint32_t ReadPortSpeedByte = 0xCB202040;
// Link details (20 bytes).
inline constexpr uint32_t ReadLinkDetails = 0xCB202044;
// Transceiver module data (500 bytes).
inline constexpr uint32_t ReadTransceiverData = 0xCB202048;
// DPI filter (224 bytes).
inline constexpr uint32_t ReadDpiFilter = 0xCB20204C;
// DPI filter (224 bytes).
inline constexpr uint32_t WriteDpiFilter = 0xCB202050;
// Save DPI filter.
inline constexpr uint32_t SaveDpiFilter = 0xCB202054;
// Programmable counter (30 bytes).
inline constexpr uint32_t WriteCounter = 0xCB202058;
// Programmable counter; input: 4-byte index, reply 30 bytes.
inline constexpr uint32_t ReadCounter = 0xCB20205C;
// Statistics, format 2 (128 bytes).
inline constexpr uint32_t ReadStatisticsFormat2 = 0xCB202060;
// Packet filter (248 bytes).
inline constexpr uint32_t ReadPacketFilter = 0xCB202064;
// Packet filter (248 bytes).
inline constexpr uint32_t WritePacketFilter = 0xCB202068;
// Save packet filter.
inline constexpr uint32_t SavePacketFilter = 0xCB20206C;
// Set timing time (17 bytes).
inline constexpr uint32_t SetTimingTime = 0xCB202078;
// Restart the device.
inline constexpr uint32_t RestartDevice = 0xCB20207C;
// Extra information (64 bytes).
inline constexpr uint32_t ReadExtraInfo = 0xCB202088;
// Statistics trailer (16 bytes).
inline constexpr uint32_t ReadStatisticsTrailer = 0xCB20208C;
// Packet-type filter (8 bytes).
inline constexpr uint32_t ReadPacketsTypeFilter = 0xCB202090;
// Packet-type filter (8 bytes).
inline constexpr uint32_t WritePacketsTypeFilter = 0xCB202094;
// Save packet-type filter.
inline constexpr uint32_t SavePacketsTypeFilter = 0xCB202098;
// Begin first firmware image; input: 4-byte length.
inline constexpr uint32_t BeginFirstImage = 0xCB202400;
// Begin second firmware image; input: 4-byte length.
inline constexpr uint32_t BeginSecondImage = 0xCB202404;
// Finish first firmware image.
inline constexpr uint32_t FinishFirstImage = 0xCB202408;
// Finish second firmware image.
inline constexpr uint32_t FinishSecondImage = 0xCB20240C;
// First image data block (1 to 508 bytes).
inline constexpr uint32_t FirstImageData = 0xCB202410;
// Second image data block (1 to 508 bytes).
inline constexpr uint32_t SecondImageData = 0xCB202414;
// First image programming progress (1 byte).
inline constexpr uint32_t FirstImageProgress = 0xCB202418;
// Second image programming progress (1 byte).
inline constexpr uint32_t SecondImageProgress = 0xCB20241C;
// Start direct capture.
inline constexpr uint32_t StartDirectCapture = 0xCB202800;
// Stop direct capture.
inline constexpr uint32_t StopDirectCapture = 0xCB202804;
// Capture file name: UTF-16 full path with its terminator.
inline constexpr uint32_t CaptureFileName = 0xCB202808;
// Capture setting: loop (1 byte).
inline constexpr uint32_t CaptureLoop = 0xCB20280C;
// Capture setting: extra option (1 byte).
inline constexpr uint32_t CaptureExtraOption = 0xCB202810;
// Capture setting: file count (4 bytes).
inline constexpr uint32_t CaptureFileCount = 0xCB202814;
// Capture setting: maximum cache (8 bytes).
inline constexpr uint32_t CaptureMaxCache = 0xCB202818;
// Capture setting: file size (8 bytes).
inline constexpr uint32_t CaptureFileSize = 0xCB20281C;
// Direct capture status (8256 bytes).
inline constexpr uint32_t ReadCaptureStatus = 0xCB202820;
// Direct capture mode (4 bytes).
inline constexpr uint32_t CaptureMode = 0xCB202824;
// Capture setting: file duration (4 bytes).
inline constexpr uint32_t CaptureFileDuration = 0xCB202828;
// Capture setting: full frames (1 byte).
inline constexpr uint32_t CaptureFullFrames = 0xCB20282C;
// Start memory capture.
inline constexpr uint32_t StartMemoryCapture = 0xCB202C00;
// Stop memory capture.
inline constexpr uint32_t StopMemoryCapture = 0xCB202C04;
// Memory capture data into the caller's buffer (direct transfer).
inline constexpr uint32_t ReadMemoryCaptureData = 0xCB202C0B;
// Memory capture mode (4 bytes).
inline constexpr uint32_t MemoryCaptureMode = 0xCB202C0C;
// Memory capture header into the caller's buffer.
inline constexpr uint32_t ReadMemoryCaptureHeader = 0xCB202C10;
// GPS output into the caller's buffer.
inline constexpr uint32_t ReadGpsOutput = 0xCB203000;
// Flush GPS output.
inline constexpr uint32_t FlushGpsOutput = 0xCB203004;
// Wait for the next event (no handle); reply 4108 bytes.
inline constexpr uint32_t WaitForEvent = 0xCB203400;

// Firmware image data travels in blocks of at most this many bytes.
inline constexpr uint32_t kFirmwareDataBlockSize = 508;

}  // namespace nettlebeam::codec::request
